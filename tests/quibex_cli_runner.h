// Runs the built quibex binary as a user would, for the tool's end-to-end
// tests: arguments in, stdin fed, stdout and stderr collected, exit code
// and peak memory of the child reported.
#ifndef QUIBEX_TESTS_QUIBEX_CLI_RUNNER_H_
#define QUIBEX_TESTS_QUIBEX_CLI_RUNNER_H_

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quibex::testing {

// Path of the quibex binary under test.
const char* quibexPath();
// The command that runs it with args: under this build's emulator, if any.
std::vector<std::string> quibexCommand(const std::vector<std::string>& args);
// Path of a file of the bundled examples folder.
std::string exampleFile(const std::string& name);

// How a finished child ended.
struct ExitStatus {
  int code = -1;      // exit code, or -1 when a signal ended it
  int signal = 0;     // the signal that ended it, or 0
  long maxRssKb = 0;  // the child's peak resident memory, from wait4
};

// The result of runQuibex.
struct RunResult {
  ExitStatus status;
  std::string out;  // everything written to stdout
  std::string err;  // everything written to stderr
  int code() const { return status.code; }
};

// Runs quibex with args, feeding input on stdin and collecting both output
// streams. stdoutFile, when not empty, receives stdout instead of a pipe.
RunResult runQuibex(const std::vector<std::string>& args,
                    const std::string& input = "",
                    const std::string& stdoutFile = "");
// The same for any program: command is its path and arguments, run as
// they stand.
RunResult runProgram(const std::vector<std::string>& command,
                     const std::string& input = "",
                     const std::string& stdoutFile = "");

// Runs quibex with args while streaming: produce is called for the next
// chunk of stdin until it returns false (the chunk it filled then is still
// written), and consume receives stdout as it arrives. Returns the child's
// end with stderr in err.
RunResult streamQuibex(const std::vector<std::string>& args,
                       const std::function<bool(std::string*)>& produce,
                       const std::function<void(std::string_view)>& consume);

// Splits text into lines (without their line feeds); a final line feed
// ends the last line rather than starting an empty one.
std::vector<std::string> splitLines(const std::string& text);

// The "label: value" lines of an explanation block, by label, with the
// value as printed (leading blanks of the line and padding removed).
std::map<std::string, std::string> explanationFields(
    const std::vector<std::string>& lines);

// The arguments that name the bundled sample lists.
std::vector<std::string> sampleLists();

// The arguments of "quibex command": the command, the list arguments
// (the bundled sample lists unless others are given), then extra.
std::vector<std::string> commandArgs(
    const std::string& command, const std::vector<std::string>& extra = {},
    const std::vector<std::string>& lists = sampleLists());

// A quibex child driven step by step: write a line, wait for an answer.
//
// Thread-safety: none; one test thread drives it.
class QuibexProcess {
 public:
  explicit QuibexProcess(const std::vector<std::string>& args);
  // Kills the child if it still runs, then reaps it.
  ~QuibexProcess();
  QuibexProcess(const QuibexProcess&) = delete;
  QuibexProcess& operator=(const QuibexProcess&) = delete;

  // Writes text to the child's stdin. Returns false when it cannot.
  bool write(const std::string& text);
  // Reads stdout until a line feed arrives or timeout passes. Returns the
  // line without its line feed, or false on timeout or end of output.
  bool readLine(std::string* line, std::chrono::milliseconds timeout);
  // Closes stdin, waits for the end and returns it; stderr lands in *err.
  ExitStatus finish(std::string* err);

 private:
  pid_t pid_ = -1;       // the child, or -1 once reaped
  int in_ = -1;          // write end of its stdin
  int out_ = -1;         // read end of its stdout
  int errFd_ = -1;       // read end of its stderr
  std::string pending_;  // stdout read beyond the last line returned
};

}  // namespace quibex::testing

#endif  // QUIBEX_TESTS_QUIBEX_CLI_RUNNER_H_
