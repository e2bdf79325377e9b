// JSON Lines output; see json_output.h.
#include "tools/quibex/json_output.h"

#include "tools/quibex/output.h"

namespace quibex::tool {

void writeJsonLine(const nlohmann::json& value) {
  writeOut(
      value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
      "\n");
}

}  // namespace quibex::tool
