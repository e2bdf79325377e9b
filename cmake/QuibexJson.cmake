# Defines the interface target quibex_json (nlohmann-json, headers only)
# when the headers are found, for the reader of the request records.
#
# A cross build takes the build machine's copy, since the headers are the
# same for every target. Its folder is /usr/include, which must not go on a
# cross compiler's include path (its C headers would hide the target's), so
# only the nlohmann folder is linked into the build tree and put there.
if(CMAKE_CROSSCOMPILING)
  find_path(QUIBEX_JSON_INCLUDE_DIR nlohmann/json.hpp NO_CMAKE_FIND_ROOT_PATH)
  if(QUIBEX_JSON_INCLUDE_DIR)
    set(quibex_json_dir ${PROJECT_BINARY_DIR}/host-headers)
    file(MAKE_DIRECTORY ${quibex_json_dir})
    file(CREATE_LINK ${QUIBEX_JSON_INCLUDE_DIR}/nlohmann
         ${quibex_json_dir}/nlohmann SYMBOLIC)
    add_library(quibex_json INTERFACE)
    target_include_directories(quibex_json INTERFACE ${quibex_json_dir})
  endif()
else()
  find_package(nlohmann_json 3 QUIET)
  if(nlohmann_json_FOUND)
    add_library(quibex_json INTERFACE)
    target_link_libraries(quibex_json INTERFACE nlohmann_json::nlohmann_json)
  endif()
endif()
