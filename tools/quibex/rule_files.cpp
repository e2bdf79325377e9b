// Checking and loading the rule files; see rule_files.h.
#include "tools/quibex/rule_files.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/rule_file_reader.h"
#include "tools/quibex/command.h"

namespace quibex::tool {

namespace {

// The name of the copy of standard input while a StandardInputCopy holds
// it; empty otherwise. The tool's one piece of process state.
std::string& standardInputCopyPath() {
  static std::string path;
  return path;
}

}  // namespace

StandardInputCopy::~StandardInputCopy() {
  if (file_) standardInputCopyPath().clear();
}

bool StandardInputCopy::copy(std::string* error) {
  UniqueFile file(std::tmpfile());
  if (!file) {
    *error = std::string("cannot copy standard input: ") + std::strerror(errno);
    return false;
  }
  constexpr size_t kChunk = 64 * 1024;
  std::unique_ptr<char[]> chunk(new char[kChunk]);
  errno = 0;
  size_t got;
  while ((got = std::fread(chunk.get(), 1, kChunk, stdin)) > 0) {
    if (std::fwrite(chunk.get(), 1, got, file.get()) != got) break;
  }
  if (std::ferror(stdin) || std::ferror(file.get()) ||
      std::fflush(file.get()) != 0) {
    *error = std::string("cannot copy standard input: ") +
             (errno != 0 ? std::strerror(errno) : "read error");
    return false;
  }
  file_ = std::move(file);
  // Opened again by name, the copy is read from its start each time.
  standardInputCopyPath() = "/dev/fd/" + std::to_string(fileno(file_.get()));
  return true;
}

std::string systemPath(const std::string& path) {
  if (path == kStandardInputName && !standardInputCopyPath().empty()) {
    return standardInputCopyPath();
  }
  return path;
}

UniqueFile openRuleFile(const std::string& path, std::string* error) {
  errno = 0;
  // The same open call as the engine's loader.
  UniqueFile file(std::fopen(systemPath(path).c_str(), "r"));
  if (!file) {
    *error = "cannot open rule file '" + path + "': " + std::strerror(errno);
  }
  return file;
}

std::string readFailure(const std::string& path, int savedErrno) {
  return "cannot read rule file '" + path +
         "': " + (savedErrno != 0 ? std::strerror(savedErrno) : "read error");
}

bool checkReadable(const std::string& path, std::string* error) {
  const UniqueFile file = openRuleFile(path, error);
  if (!file) return false;
  // Opening succeeds for a directory; only reading reveals it.
  constexpr size_t kChunk = 64 * 1024;
  std::unique_ptr<char[]> chunk(new char[kChunk]);
  errno = 0;
  while (std::fread(chunk.get(), 1, kChunk, file.get()) == kChunk) {
  }
  if (std::ferror(file.get())) {
    *error = readFailure(path, errno);
    return false;
  }
  return true;
}

LoadedRules::LoadedRules() : engine_(decoder_) {}

bool LoadedRules::load(const std::string& firstPath,
                       const std::string& secondPath, std::string* error) {
  for (const std::string* path : {&firstPath, &secondPath}) {
    if (!path->empty() && !checkReadable(*path, error)) return false;
  }
  paths_[0] = firstPath;
  paths_[1] = secondPath;
  const auto start = std::chrono::steady_clock::now();
  engine_.loadRules(systemPath(firstPath), systemPath(secondPath));
  engine_.waitForLoads();
  loadSeconds_ =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  return true;
}

int loadFromArguments(const Command& command, const ParsedArguments& args,
                      LoadedRules* rules) {
  for (const KnownOption& option : {kFirstOption, kSecondOption}) {
    if (args.has(option.name) && args.value(option.name).empty()) {
      return usageError(command, std::string("option '") + option.name +
                                     "' needs a file name, not an empty one");
    }
  }
  std::string error;
  if (!rules->load(args.value(kFirstOption.name),
                   args.value(kSecondOption.name), &error)) {
    return failure(error);
  }
  return kExitOk;
}

}  // namespace quibex::tool
