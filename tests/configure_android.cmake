# Configures this project as the NDK's toolchain would (CMake's ANDROID
# set) and checks the defaults an app's build gets: warnings do not stop
# it, and only the library is built. Run with
#   cmake -DSOURCE=<project> -DWORK=<scratch folder> -DGENERATOR=...
#         -DCXX=... -P configure_android.cmake
cmake_minimum_required(VERSION 3.16)

file(REMOVE_RECURSE "${WORK}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -S "${SOURCE}" -B "${WORK}" -G "${GENERATOR}"
          -DCMAKE_CXX_COMPILER=${CXX} -DANDROID=ON
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "configuring with ANDROID set failed:\n${out}")
endif()

set(expected
  QUIBEX_WERROR=OFF QUIBEX_BUILD_TESTS=OFF QUIBEX_BUILD_TOOLS=OFF
  QUIBEX_BUILD_BENCHMARKS=OFF)
file(STRINGS "${WORK}/CMakeCache.txt" cache REGEX "^QUIBEX_")
set(problems "")
foreach(entry IN LISTS expected)
  string(REPLACE "=" ";" fields "${entry}")
  list(GET fields 0 name)
  list(GET fields 1 value)
  if(NOT cache MATCHES "(^|;)${name}:BOOL=${value}(;|$)")
    string(APPEND problems "\n  ${name} is not ${value}")
  endif()
endforeach()
if(problems)
  message(FATAL_ERROR "defaults with ANDROID set:${problems}")
endif()
message(STATUS "with ANDROID set: ${expected}")
