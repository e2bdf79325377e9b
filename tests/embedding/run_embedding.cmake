# The embedding test: configures the host project in this folder (which
# adds libquibex with add_subdirectory()) with the compiler and flags of the
# build under test, builds it, runs its program (under EMULATOR, when
# given), and installs it to check that libquibex.so, and nothing else of
# the library, is installed. Run with
#   cmake -DSOURCE=<project> -DWORK=<scratch folder> -DGENERATOR=...
#         -DCXX=... -DCXX_FLAGS=... -DTOOLCHAIN=... -DEMULATOR="words"
#         -P run_embedding.cmake
# The host build optimises nothing: it is about configuring and linking.
cmake_minimum_required(VERSION 3.16)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed:\n${out}")
  endif()
  message(STATUS "${what}: ok")
  set(output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK}")
set(build "${WORK}/build")
set(prefix "${WORK}/installed")
set(configure ${CMAKE_COMMAND} -S "${SOURCE}/tests/embedding" -B "${build}"
    -G "${GENERATOR}" -DQUIBEX_SOURCE_DIR=${SOURCE}
    -DCMAKE_BUILD_TYPE= "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    "-DCMAKE_INSTALL_PREFIX=${prefix}"
    # Nothing beyond a compiler, threads and jni.h may be looked for.
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
    -DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON
    -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
    -DCMAKE_DISABLE_FIND_PACKAGE_Java=ON)
if(TOOLCHAIN)
  list(APPEND configure "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}")
else()
  list(APPEND configure "-DCMAKE_CXX_COMPILER=${CXX}")
endif()
run("configure" ${configure})
run("build" ${CMAKE_COMMAND} --build "${build}")
separate_arguments(emulator UNIX_COMMAND "${EMULATOR}")
run("run the host program" ${emulator} "${build}/embedding_host")
message(STATUS "${output}")
run("install" ${CMAKE_COMMAND} --install "${build}")
file(GLOB_RECURSE installed RELATIVE "${prefix}" "${prefix}/*")
if(NOT installed MATCHES "^lib/libquibex\\.so$")
  message(FATAL_ERROR "installed: ${installed}; expected lib/libquibex.so alone")
endif()
message(STATUS "installed: ${installed}")
