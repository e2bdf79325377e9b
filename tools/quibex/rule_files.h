// The rule files named on the command line, checked and loaded into an
// engine through the pass-through decoder.
#ifndef QUIBEX_TOOLS_QUIBEX_RULE_FILES_H_
#define QUIBEX_TOOLS_QUIBEX_RULE_FILES_H_

#include <cerrno>
#include <new>
#include <string>

#include "engine/filter_engine_impl.h"
#include "engine/line_decoder.h"
#include "engine/rule_file_reader.h"
#include "tools/quibex/arguments.h"

namespace quibex::tool {

// The options through which every engine-loading command names its lists.
inline constexpr KnownOption kFirstOption{"--first", true};
inline constexpr KnownOption kSecondOption{"--second", true};

// The file names that name a file the tool reads: "-" is standard input.
inline constexpr const char* kStandardInputName = "-";
// The valued options of every command that name files.
inline constexpr const char* kFileOptions[] = {
    "--first", "--second", "--new-first", "--new-second", "--pages"};

// Standard input copied into an unnamed temporary file, so that every
// reader of a file given as "-" (checked, scanned and loaded, each from its
// start) reads it by name like any other. While it exists, systemPath("-")
// names the copy.
//
// Thread-safety: none; made and used by the main thread.
class StandardInputCopy {
 public:
  StandardInputCopy() = default;
  ~StandardInputCopy();
  StandardInputCopy(const StandardInputCopy&) = delete;
  StandardInputCopy& operator=(const StandardInputCopy&) = delete;

  // Copies all of standard input. Returns false with a message in *error.
  // REQUIRES: called at most once per process.
  bool copy(std::string* error);

 private:
  UniqueFile file_;  // the copy, or null
};

// The name under which the system opens the file the user named path:
// path itself, or for "-" the copy of standard input.
std::string systemPath(const std::string& path);

// Opens a rule file as the engine's loader does. Returns null with a
// message in *error when it cannot be opened.
UniqueFile openRuleFile(const std::string& path, std::string* error);
// The message for a rule file whose reading failed, with errno's reason
// (saved by the caller right after the failed read; 0 when unknown).
std::string readFailure(const std::string& path, int savedErrno);

// Reads the rule file path line by line through readRuleLines() with
// decoder (null: the lines as stored), handing each line to onLine and each
// skipped line to onSkipped. Returns false with a message in *error when it
// cannot be opened or reading it failed. Throws std::bad_alloc when a line
// ran out of memory: the tool reports that rather than a list short of a
// line.
template <class OnLine, class OnSkipped>
bool readRuleFile(const std::string& path, LineDecoder* decoder,
                  OnLine&& onLine, OnSkipped&& onSkipped, std::string* error) {
  const UniqueFile file = openRuleFile(path, error);
  if (!file) return false;
  errno = 0;
  const RuleLineTally tally =
      readRuleLines(file.get(), decoder, onLine, onSkipped);
  if (tally.handledOutOfMemory > 0) throw std::bad_alloc();
  if (tally.readFailed) {
    *error = readFailure(path, errno);
    return false;
  }
  return true;
}

// Checks that path names a file that can be opened and read to its end.
// The engine silently skips a file it cannot read, so the tool checks
// first. Returns false with a message in *error.
bool checkReadable(const std::string& path, std::string* error);

// An engine holding the rules of the first and second file.
//
// Thread-safety: as FilterEngineImpl; load() is called once, before any
// query.
class LoadedRules {
 public:
  LoadedRules();
  LoadedRules(const LoadedRules&) = delete;
  LoadedRules& operator=(const LoadedRules&) = delete;

  // Checks that each given file can be read, then loads firstPath as list 0
  // and secondPath as list 1 and waits for the load to finish. An empty
  // path is a file left out. Returns false with a message in *error when a
  // given file cannot be read; nothing is loaded then.
  bool load(const std::string& firstPath, const std::string& secondPath,
            std::string* error);

  // The engine. Valid for the lifetime of this object.
  FilterEngineImpl& engine() { return engine_; }
  // The path of list 0 (first) or 1 (second); empty when left out.
  const std::string& path(int list) const { return paths_[list == 0 ? 0 : 1]; }
  // Wall-clock seconds from starting the load to its end.
  double loadSeconds() const { return loadSeconds_; }

 private:
  PassThroughDecoder decoder_;  // plain files: each line is its own text
  FilterEngineImpl engine_;     // the engine every command decides with
  std::string paths_[2];        // the first and second file
  double loadSeconds_ = 0;      // duration of the load
};

struct Command;

// Loads the files of --first and --second of command into *rules. Returns
// kExitOk, or prints the message on stderr and returns the exit code:
// kExitUsage for an empty file name, kExitFailure for a file that cannot be
// read.
int loadFromArguments(const Command& command, const ParsedArguments& args,
                      LoadedRules* rules);

}  // namespace quibex::tool

#endif  // QUIBEX_TOOLS_QUIBEX_RULE_FILES_H_
