# Fails unless the dynamic symbols the shared library LIBRARY defines are
# exactly those listed (comma-separated) in EXPECTED. Run with
#   cmake -DNM=... -DLIBRARY=... -DEXPECTED=a,b,c -P check_exports.cmake
execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(exported "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; the name is the last field.
  if(line MATCHES "([^ \t]+)[ \t]*$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  endif()
endforeach()
string(REPLACE "," ";" expected "${EXPECTED}")
list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
  string(REPLACE ";" "\n  " shown "${exported}")
  message(FATAL_ERROR "libquibex.so exports:\n  ${shown}\nexpected exactly:\n  ${EXPECTED}")
endif()
list(LENGTH exported count)
message(STATUS "libquibex.so exports exactly the ${count} expected symbols")
