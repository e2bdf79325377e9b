// The quibex tool's entry point: picks the subcommand, parses its arguments,
// runs it and makes sure its output reached stdout.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "tools/quibex/command.h"

namespace quibex::tool {
namespace {

const Command* const kCommands[] = {&checkCommand(), &selectorsCommand(),
                                    &batchCommand(), &lintCommand(),
                                    &statsCommand(), &diffCommand(),
                                    &coverageCommand()};

void printOverview(std::FILE* stream) {
  std::fputs(
      "usage: quibex COMMAND [OPTIONS] [ARGUMENTS]\n"
      "\n"
      "Runs the libquibex filtering engine on plain rule files: the first\n"
      "list is given with --first FILE, the second with --second FILE;\n"
      "either may be left out. Rules of the second list decide before\n"
      "those of the first.\n"
      "\n"
      "commands:\n",
      stream);
  for (const Command* command : kCommands) {
    std::fprintf(stream, "  %-10s %s\n", command->name, command->summary);
  }
  std::fputs(
      "\n"
      "Run 'quibex COMMAND --help' for the options of a command.\n"
      "Exit codes: 0 success, 1 a file or stream could not be used,\n"
      "2 a wrong command line.\n",
      stream);
}

int runTool(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fputs("quibex: no command given\n\n", stderr);
    printOverview(stderr);
    return kExitUsage;
  }
  const std::string& word = args[0];
  if (word == "--help" || word == "-h" || word == "help") {
    printOverview(stdout);
    return kExitOk;
  }
  for (const Command* command : kCommands) {
    if (word != command->name) continue;
    ParsedArguments parsed;
    std::string error;
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (!parseArguments(rest, command->options, &parsed, &error)) {
      return usageError(*command, error);
    }
    if (parsed.helpRequested()) {
      std::fputs(command->help, stdout);
      return kExitOk;
    }
    const size_t operands = parsed.operands().size();
    if (operands < command->minOperands) {
      return usageError(*command, "missing arguments");
    }
    if (operands > command->maxOperands) {
      return usageError(*command, "too many arguments");
    }
    return command->run(*command, parsed);
  }
  std::fprintf(stderr, "quibex: unknown command '%s'\n\n", word.c_str());
  printOverview(stderr);
  return kExitUsage;
}

}  // namespace

int usageError(const Command& command, const std::string& message) {
  std::fprintf(stderr, "quibex %s: %s\nRun 'quibex %s --help' for its usage.\n",
               command.name, message.c_str(), command.name);
  return kExitUsage;
}

int failure(const std::string& message) {
  std::fprintf(stderr, "quibex: %s\n", message.c_str());
  return kExitFailure;
}

}  // namespace quibex::tool

int main(int argc, char** argv) {
  int code;
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    code = quibex::tool::runTool(args);
  } catch (const std::bad_alloc&) {
    // A clear message instead of the runtime's abort; the engine itself
    // drops what it cannot hold and goes on, so this is rare.
    std::fflush(stdout);
    std::fputs("quibex: out of memory\n", stderr);
    code = quibex::tool::kExitFailure;
  }
  // Output that could not be written (a full disk, a closed stream) is a
  // failure even when the command itself succeeded.
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int saved = errno;
    std::fprintf(stderr, "quibex: cannot write the output: %s\n",
                 saved != 0 ? std::strerror(saved) : "write error");
    if (code == quibex::tool::kExitOk) code = quibex::tool::kExitFailure;
  }
  return code;
}
