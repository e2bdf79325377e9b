// Command-line argument parsing for the quibex tool: long options with or
// without a value, operands, "--" and the help request.
#ifndef QUIBEX_TOOLS_QUIBEX_ARGUMENTS_H_
#define QUIBEX_TOOLS_QUIBEX_ARGUMENTS_H_

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quibex::tool {

// One option a subcommand accepts.
struct KnownOption {
  const char* name;  // with its leading "--", e.g. "--first"
  bool takesValue;   // written "--name VALUE" or "--name=VALUE"
};

// The arguments of one subcommand, parsed.
//
// Thread-safety: immutable once parseArguments() has filled it.
class ParsedArguments {
 public:
  // True when the flag (an option without a value) was given.
  bool flag(std::string_view name) const;
  // True when the valued option was given.
  bool has(std::string_view name) const;
  // The value of a valued option, or "" when it was not given. The
  // reference stays valid for the lifetime of this object.
  const std::string& value(std::string_view name) const;
  // The operands, in the order given.
  const std::vector<std::string>& operands() const { return operands_; }
  // True when "--help" or "-h" was given.
  bool helpRequested() const { return help_; }

 private:
  friend bool parseArguments(const std::vector<std::string>& args,
                             const std::vector<KnownOption>& known,
                             ParsedArguments* out, std::string* error);

  std::map<std::string, std::string, std::less<>> values_;  // valued options
  std::set<std::string, std::less<>> flags_;                // flags given
  std::vector<std::string> operands_;                       // the rest
  bool help_ = false;  // "--help" or "-h" was given
};

// Parses the arguments that follow the subcommand word. "--help" or "-h"
// before a "--" asks for help and wins over every other argument. "--" ends
// the options; "-" alone is an operand. Returns false with a message in
// *error for an unknown option, a missing value, a value given to a flag, or
// an option given twice.
bool parseArguments(const std::vector<std::string>& args,
                    const std::vector<KnownOption>& known, ParsedArguments* out,
                    std::string* error);

}  // namespace quibex::tool

#endif  // QUIBEX_TOOLS_QUIBEX_ARGUMENTS_H_
