// JSON output of the quibex tool's --json modes: one JSON value per line
// (JSON Lines), with rule text and addresses as strings.
#ifndef QUIBEX_TOOLS_QUIBEX_JSON_OUTPUT_H_
#define QUIBEX_TOOLS_QUIBEX_JSON_OUTPUT_H_

#include <nlohmann/json.hpp>

namespace quibex::tool {

// Writes value on one line of stdout. Bytes of a string that are not
// valid UTF-8 are written as U+FFFD, as JSON text must be UTF-8.
void writeJsonLine(const nlohmann::json& value);

}  // namespace quibex::tool

#endif  // QUIBEX_TOOLS_QUIBEX_JSON_OUTPUT_H_
