// TrackedRules: an engine that the tool fills line by line, so that it can
// name every filed rule by the file and line it came from. The engine keeps
// no line numbers: the tool remembers, for each rule object the engine
// filed, the line it handed over. Rules are known by their identity (their
// address), not by their text, since lists repeat lines.
#ifndef QUIBEX_TOOLS_QUIBEX_RULE_ORIGINS_H_
#define QUIBEX_TOOLS_QUIBEX_RULE_ORIGINS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/filter_engine_impl.h"
#include "engine/line_decoder.h"
#include "tools/quibex/arguments.h"

namespace quibex::tool {

// Where one filed rule came from.
struct RuleOrigin {
  const void* rule;  // the RequestFilter or ElemHideFilter the line became
  uint32_t line;     // its line number in its file, from 1
  uint8_t list;      // 0 for the first file, 1 for the second
  bool elemHide;     // an element-hiding rule; otherwise a request rule
};

// Thread-safety: as FilterEngineImpl for engine(); load() is called once,
// before any query, and the rest is read-only afterwards.
class TrackedRules {
 public:
  // What indexOf() returns for an address that is no filed rule.
  static constexpr size_t kUnknown = SIZE_MAX;

  TrackedRules();
  TrackedRules(const TrackedRules&) = delete;
  TrackedRules& operator=(const TrackedRules&) = delete;

  // Checks that each given file can be read, then hands the engine every
  // line of firstPath as list 0 and of secondPath as list 1, read and
  // decoded exactly as a load reads them. An empty path is a file left
  // out. Returns false with a message in *error when a given file cannot
  // be read.
  bool load(const std::string& firstPath, const std::string& secondPath,
            std::string* error);

  // The engine. Valid for the lifetime of this object.
  FilterEngineImpl& engine() { return engine_; }
  // The path of list 0 (first) or 1 (second); empty when left out.
  const std::string& path(int list) const { return paths_[list == 0 ? 0 : 1]; }

  // Every filed rule, in file and line order, the first file's first. The
  // reference stays valid for the lifetime of this object.
  const std::vector<RuleOrigin>& rules() const { return origins_; }
  // The index in rules() of the rule at address rule, or kUnknown.
  size_t indexOf(const void* rule) const;
  // "FILE:LINE" of rules()[index], printable.
  std::string location(size_t index) const;
  // "FILE:LINE: RULE" of a filed rule, printable; empty for null.
  std::string describe(const RequestFilter* rule) const;
  std::string describe(const ElemHideFilter* rule) const;
  // The text of rules()[index], as the engine received it.
  std::string text(size_t index) const;

 private:
  bool addFile(const std::string& path, int list, std::string* error);
  std::string describeAt(const void* rule, std::string_view text) const;

  PassThroughDecoder decoder_;       // plain files: each line is its text
  FilterEngineImpl engine_;          // the engine the rules are filed in
  std::string paths_[2];             // the first and second file
  std::vector<RuleOrigin> origins_;  // every filed rule, in filing order
  std::vector<uint32_t> byAddress_;  // indexes of origins_ by rule address
};

struct Command;

// Checks that none of the named valued options was given an empty file
// name. Returns kExitOk, or prints the message and returns kExitUsage.
int checkFileOptions(const Command& command, const ParsedArguments& args,
                     const std::vector<const char*>& names);

// Loads firstPath and secondPath into *rules. Returns kExitOk, or prints
// why a file cannot be read and returns kExitFailure.
int loadTracked(const std::string& firstPath, const std::string& secondPath,
                TrackedRules* rules);

}  // namespace quibex::tool

#endif  // QUIBEX_TOOLS_QUIBEX_RULE_ORIGINS_H_
