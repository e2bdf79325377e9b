# Configures this project once per optional dependency, each time as if
# that dependency were not installed, and checks that the configuration
# either succeeds without the parts that need it (and links no missing
# target of its own as a plain library name, which would only fail at link
# time) or stops with a message naming the Debian package to install. Run
# with
#   cmake -DSOURCE=<project> -DWORK=<scratch folder> -DGENERATOR=...
#         -DCXX=... -P configure_without.cmake
cmake_minimum_required(VERSION 3.16)

# The package CMake looks for, what the configuration must do without it,
# and the Debian package its message must name.
set(cases
  "GTest|stops|libgtest-dev"
  "nlohmann_json|stops|nlohmann-json3-dev"
  "JNI|stops|openjdk-17-jdk-headless"
  "benchmark|configures|libbenchmark-dev"
  "Java|configures|openjdk-17-jdk-headless")

set(failures "")
foreach(entry IN LISTS cases)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 package)
  list(GET fields 1 expected)
  list(GET fields 2 debian)
  set(build "${WORK}/${package}")
  file(REMOVE_RECURSE "${build}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S "${SOURCE}" -B "${build}" -G "${GENERATOR}"
            -DCMAKE_CXX_COMPILER=${CXX}
            -DCMAKE_DISABLE_FIND_PACKAGE_${package}=ON
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REGEX REPLACE "[ \n]+" " " flat "${out}")
  if(status EQUAL 0)
    set(outcome configures)
  else()
    set(outcome stops)
  endif()
  set(problem "")
  if(NOT outcome STREQUAL expected)
    set(problem "${outcome}, expected: ${expected}")
  elseif(NOT flat MATCHES "${debian}")
    set(problem "${outcome} without naming ${debian}")
  elseif(outcome STREQUAL "configures")
    file(STRINGS "${build}/build.ninja" missing REGEX "-lquibex_")
    if(missing)
      set(problem "links a missing library: ${missing}")
    endif()
  endif()
  if(problem)
    string(APPEND failures "\n  without ${package}: ${problem}\n${out}")
  else()
    message(STATUS "without ${package}: ${outcome}, naming ${debian}")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
