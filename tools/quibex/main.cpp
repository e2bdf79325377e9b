// The quibex tool's entry point: picks the subcommand, parses its arguments,
// runs it and makes sure its output reached stdout.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "tools/quibex/command.h"
#include "tools/quibex/rule_files.h"

namespace quibex::tool {
namespace {

const Command* const kCommands[] = {
    &checkCommand(), &selectorsCommand(), &batchCommand(),   &lintCommand(),
    &statsCommand(), &diffCommand(),      &coverageCommand()};

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
      "Run 'quibex COMMAND --help' for the options of a command, and\n"
      "'quibex --version' for its version. A file named \"-\" is standard\n"
      "input.\n"
      "Exit codes: 0 success, 1 a file or stream could not be used,\n"
      "2 a wrong command line (with diff --exit-code and lint --fail-on:\n"
      "1 changes or findings, 2 any failure).\n",
      stream);
}

// The edit distance of a and b (insertions, deletions, substitutions).
size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                         diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The command a mistyped word most likely meant: one that begins with it,
// or the nearest within two edits; null when none is near.
const Command* nearestCommand(const std::string& word) {
  const Command* best = nullptr;
  size_t bestDistance = 3;
  for (const Command* command : kCommands) {
    const std::string name = command->name;
    const size_t distance = word.size() >= 2 && name.rfind(word, 0) == 0
                                ? 0
                                : editDistance(word, name);
    if (distance < bestDistance) {
      best = command;
      bestDistance = distance;
    }
  }
  return best;
}

// Whether the command reads a file given as "-", and so standard input.
bool namesStandardInput(const Command& command, const ParsedArguments& args) {
  for (const char* option : kFileOptions) {
    if (args.value(option) == kStandardInputName) return true;
  }
  return command.operandsAreFiles &&
         std::find(args.operands().begin(), args.operands().end(),
                   kStandardInputName) != args.operands().end();
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
  if (word == "--version") {
    std::fputs("quibex " QUIBEX_VERSION "\n", stdout);
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
    StandardInputCopy standardInput;
    if (namesStandardInput(*command, parsed)) {
      if (command->readsStdin || parsed.flag("--stdin")) {
        return usageError(*command,
                          "'-' cannot name a file: standard input carries "
                          "the requests");
      }
      if (!standardInput.copy(&error)) return failure(error);
    }
    return command->run(*command, parsed);
  }
  std::fprintf(stderr, "quibex: unknown command '%s'\n", word.c_str());
  if (const Command* nearest = nearestCommand(word)) {
    std::fprintf(stderr, "Did you mean 'quibex %s'?\n", nearest->name);
  }
  std::fputs("Run 'quibex --help' for the commands.\n", stderr);
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

namespace {

// Opens each of the descriptors 0, 1 and 2 that is closed on /dev/null, so
// that no file the tool opens lands on one and is taken for standard
// input or output.
void guardStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    // Descriptors are given out lowest first, so it lands on fd; should it
    // not, the tool goes on with fd closed.
    if (opened >= 0 && opened != fd) ::close(opened);
  }
}

}  // namespace

int main(int argc, char** argv) {
  guardStandardDescriptors();
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
