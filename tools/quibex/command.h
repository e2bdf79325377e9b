// The subcommands of the quibex tool: what each accepts, its help text and
// the function that runs it, plus the exit codes and error reporting they
// share.
#ifndef QUIBEX_TOOLS_QUIBEX_COMMAND_H_
#define QUIBEX_TOOLS_QUIBEX_COMMAND_H_

#include <cstddef>
#include <string>
#include <vector>

#include "tools/quibex/arguments.h"

namespace quibex::tool {

inline constexpr int kExitOk = 0;       // the command did its job
inline constexpr int kExitFailure = 1;  // a file or stream could not be used
inline constexpr int kExitUsage = 2;    // the command line was wrong
// With diff --exit-code and lint --fail-on, as GNU diff and git do: 1 for
// changes or findings, 2 for every failure, so a list's CI tells them apart.
inline constexpr int kExitFindings = 1;  // something changed or was found
inline constexpr int kExitTrouble = 2;   // a file or stream could not be used

// A subcommand. Every instance is a static constant.
struct Command {
  const char* name;     // the subcommand word, e.g. "check"
  const char* summary;  // one line for the tool's overview
  const char* help;     // the full text printed for "quibex NAME --help"
  std::vector<KnownOption> options;  // the options it accepts
  size_t minOperands;                // operands required
  size_t maxOperands;                // operands allowed
  // Runs the command on its parsed arguments; returns the exit code.
  int (*run)(const Command& self, const ParsedArguments& args);
  // Its operands are files (read by name; "-" is standard input).
  bool operandsAreFiles = false;
  // It reads its requests or pages from standard input (check does with
  // --stdin), which then cannot also be a file given as "-".
  bool readsStdin = false;
};

// The subcommands, each defined in its own file.
const Command& checkCommand();
const Command& selectorsCommand();
const Command& batchCommand();
const Command& lintCommand();
const Command& statsCommand();
const Command& diffCommand();
const Command& coverageCommand();

// Prints "quibex NAME: message" and a pointer to the command's help on
// stderr; returns kExitUsage.
int usageError(const Command& command, const std::string& message);

// Prints "quibex: message" on stderr; returns kExitFailure.
int failure(const std::string& message);

}  // namespace quibex::tool

#endif  // QUIBEX_TOOLS_QUIBEX_COMMAND_H_
