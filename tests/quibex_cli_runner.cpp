// Running the quibex binary for the end-to-end tests; see
// quibex_cli_runner.h.
#include "tests/quibex_cli_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tests/test_support.h"

extern char** environ;

namespace quibex::testing {
namespace {

// Closes a descriptor and marks it closed.
void closeFd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

// The environment of a child: ours, with AddressSanitizer's quarantine of
// freed memory kept small, so that a sanitized build's peak memory still
// reflects what the tool keeps rather than what the sanitizer holds back.
std::vector<std::string> childEnvironment() {
  std::vector<std::string> env;
  std::string asan = "ASAN_OPTIONS=";
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (text.rfind("ASAN_OPTIONS=", 0) == 0) {
      asan = text + ":";
    } else {
      env.push_back(text);
    }
  }
  env.push_back(asan + "quarantine_size_mb=8");
  return env;
}

struct Child {
  pid_t pid = -1;
  int in = -1;   // its stdin, ours to write
  int out = -1;  // its stdout, ours to read (-1 when sent to a file)
  int err = -1;  // its stderr, ours to read
};

// Starts command (a program path and its arguments).
Child spawn(const std::vector<std::string>& command,
            const std::string& stdoutFile) {
  // A child that stops reading must not kill the test with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  int inPipe[2], outPipe[2], errPipe[2];
  if (::pipe2(inPipe, O_CLOEXEC) != 0 || ::pipe2(outPipe, O_CLOEXEC) != 0 ||
      ::pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe2 failed");
  }
  std::vector<std::string> argvText = command;
  std::vector<char*> argv;
  for (std::string& arg : argvText) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> envText = childEnvironment();
  std::vector<char*> envp;
  for (std::string& entry : envText) envp.push_back(entry.data());
  envp.push_back(nullptr);
  int fileFd = -1;
  if (!stdoutFile.empty()) {
    fileFd = ::open(stdoutFile.c_str(), O_WRONLY | O_CLOEXEC);
    if (fileFd < 0) throw std::runtime_error("cannot open " + stdoutFile);
  }

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(inPipe[0], STDIN_FILENO);
    ::dup2(fileFd >= 0 ? fileFd : outPipe[1], STDOUT_FILENO);
    ::dup2(errPipe[1], STDERR_FILENO);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(inPipe[0]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (fileFd >= 0) {
    ::close(fileFd);
    ::close(outPipe[0]);
    outPipe[0] = -1;
  }
  ::fcntl(inPipe[1], F_SETFL, O_NONBLOCK);
  return Child{pid, inPipe[1], outPipe[0], errPipe[0]};
}

ExitStatus reap(pid_t pid) {
  ExitStatus status;
  int raw = 0;
  struct rusage usage;
  std::memset(&usage, 0, sizeof usage);
  while (::wait4(pid, &raw, 0, &usage) < 0) {
    if (errno != EINTR) throw std::runtime_error("wait4 failed");
  }
  if (WIFEXITED(raw)) status.code = WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) status.signal = WTERMSIG(raw);
  status.maxRssKb = usage.ru_maxrss;
  return status;
}

// Feeds stdin from produce and drains stdout and stderr until both end.
void pump(Child& child, const std::function<bool(std::string*)>& produce,
          const std::function<void(std::string_view)>& consume,
          std::string* err) {
  std::string chunk;
  size_t written = 0;
  bool more = true;  // produce may still give input
  char buffer[64 * 1024];
  while (child.out >= 0 || child.err >= 0) {
    if (child.in >= 0 && written == chunk.size()) {
      chunk.clear();
      written = 0;
      if (more) more = produce(&chunk);
      if (chunk.empty() && !more) closeFd(&child.in);
    }
    struct pollfd fds[3];
    int n = 0;
    int inSlot = -1, outSlot = -1, errSlot = -1;
    if (child.in >= 0) {
      fds[n] = {child.in, POLLOUT, 0};
      inSlot = n++;
    }
    if (child.out >= 0) {
      fds[n] = {child.out, POLLIN, 0};
      outSlot = n++;
    }
    if (child.err >= 0) {
      fds[n] = {child.err, POLLIN, 0};
      errSlot = n++;
    }
    if (::poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
    }
    if (inSlot >= 0 && fds[inSlot].revents != 0) {
      const ssize_t put =
          ::write(child.in, chunk.data() + written, chunk.size() - written);
      if (put > 0) {
        written += static_cast<size_t>(put);
      } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
        closeFd(&child.in);  // the child stopped reading
      }
    }
    for (auto [slot, fd] : {std::pair<int, int*>{outSlot, &child.out},
                            std::pair<int, int*>{errSlot, &child.err}}) {
      if (slot < 0 || fds[slot].revents == 0) continue;
      const ssize_t got = ::read(*fd, buffer, sizeof buffer);
      if (got > 0) {
        const std::string_view data(buffer, static_cast<size_t>(got));
        if (fd == &child.out) {
          consume(data);
        } else {
          err->append(data);
        }
      } else if (got == 0 || errno != EINTR) {
        closeFd(fd);
      }
    }
  }
  closeFd(&child.in);
}

}  // namespace

const char* quibexPath() { return QUIBEX_TOOL_PATH; }

std::string exampleFile(const std::string& name) {
  return std::string(QUIBEX_EXAMPLES_DIR) + "/" + name;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t feed = text.find('\n', start);
    if (feed == std::string::npos) feed = text.size();
    lines.push_back(text.substr(start, feed - start));
    start = feed + 1;
  }
  return lines;
}

std::map<std::string, std::string> explanationFields(
    const std::vector<std::string>& lines) {
  std::map<std::string, std::string> fields;
  for (const std::string& line : lines) {
    const size_t begin = line.find_first_not_of(' ');
    const size_t colon = line.find(": ");
    if (begin == std::string::npos || colon == std::string::npos) continue;
    const size_t value = line.find_first_not_of(' ', colon + 1);
    fields[line.substr(begin, colon - begin)] =
        value == std::string::npos ? "" : line.substr(value);
  }
  return fields;
}

std::vector<std::string> quibexCommand(const std::vector<std::string>& args) {
  std::vector<std::string> command = underThisBuild(quibexPath());
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

std::vector<std::string> sampleLists() {
  return {"--first", exampleFile("lists/first.txt"), "--second",
          exampleFile("lists/second.txt")};
}

std::vector<std::string> commandArgs(const std::string& command,
                                     const std::vector<std::string>& extra,
                                     const std::vector<std::string>& lists) {
  std::vector<std::string> args = {command};
  args.insert(args.end(), lists.begin(), lists.end());
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

RunResult runQuibex(const std::vector<std::string>& args,
                    const std::string& input, const std::string& stdoutFile) {
  return runProgram(quibexCommand(args), input, stdoutFile);
}

RunResult runProgram(const std::vector<std::string>& command,
                     const std::string& input, const std::string& stdoutFile) {
  Child child = spawn(command, stdoutFile);
  RunResult result;
  bool given = false;
  pump(
      child,
      [&](std::string* chunk) {
        if (!given) *chunk = input;
        given = true;
        return false;
      },
      [&](std::string_view data) { result.out.append(data); }, &result.err);
  result.status = reap(child.pid);
  return result;
}

RunResult streamQuibex(const std::vector<std::string>& args,
                       const std::function<bool(std::string*)>& produce,
                       const std::function<void(std::string_view)>& consume) {
  Child child = spawn(quibexCommand(args), "");
  RunResult result;
  pump(child, produce, consume, &result.err);
  result.status = reap(child.pid);
  return result;
}

QuibexProcess::QuibexProcess(const std::vector<std::string>& args) {
  Child child = spawn(quibexCommand(args), "");
  pid_ = child.pid;
  in_ = child.in;
  out_ = child.out;
  errFd_ = child.err;
  // Blocking writes: the lines written here are small.
  ::fcntl(in_, F_SETFL, 0);
}

QuibexProcess::~QuibexProcess() {
  closeFd(&in_);
  closeFd(&out_);
  closeFd(&errFd_);
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    reap(pid_);
  }
}

bool QuibexProcess::write(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(in_, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

bool QuibexProcess::readLine(std::string* line,
                             std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const size_t feed = pending_.find('\n');
    if (feed != std::string::npos) {
      *line = pending_.substr(0, feed);
      pending_.erase(0, feed + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    struct pollfd fd = {out_, POLLIN, 0};
    const int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buffer[4096];
    const ssize_t got = ::read(out_, buffer, sizeof buffer);
    if (got <= 0) return false;
    pending_.append(buffer, static_cast<size_t>(got));
  }
}

ExitStatus QuibexProcess::finish(std::string* err) {
  closeFd(&in_);
  char buffer[4096];
  for (ssize_t got; (got = ::read(out_, buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno != EINTR) break;
    if (got > 0) pending_.append(buffer, static_cast<size_t>(got));
  }
  for (ssize_t got; (got = ::read(errFd_, buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno != EINTR) break;
    if (got > 0) err->append(buffer, static_cast<size_t>(got));
  }
  const ExitStatus status = reap(pid_);
  pid_ = -1;
  return status;
}

}  // namespace quibex::testing
