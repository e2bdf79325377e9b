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

UniqueFile openRuleFile(const std::string& path, std::string* error) {
  errno = 0;
  // The same open call as the engine's loader.
  UniqueFile file(std::fopen(path.c_str(), "r"));
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
  engine_.loadRules(firstPath, secondPath);
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
