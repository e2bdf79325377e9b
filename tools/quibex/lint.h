// ListLinter: what the engine makes of each line of a rule list, for the
// people who maintain lists. Every line is routed by the engine's own
// routeRuleLine and parsed by the engine's own parsers; the linter counts
// the results per container and finds the rules that will not take effect.
//
// Two grades: kNever when the engine's own rules prove the rule can never
// take effect (for instance a domain key no host candidate can equal), and
// kUnlikely when it could take effect only for addresses real pages do not
// have (upper-case host names, bytes hosts do not carry) or when the line
// belongs to another rule syntax that this engine reads differently.
#ifndef QUIBEX_TOOLS_QUIBEX_LINT_H_
#define QUIBEX_TOOLS_QUIBEX_LINT_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/request_containers.h"

namespace quibex {
class ElemHideFilter;
class RequestFilter;
}  // namespace quibex

namespace quibex::tool {

// In order of severity: a stronger grade compares greater.
enum class Grade {
  kUnlikely,    // takes effect only for addresses real pages do not have
  kNever,       // provably never takes effect in this engine
  kBreaks,      // its selector makes a browser drop the page's style rule
  kEverything,  // matches every address of its scope
};

inline constexpr size_t kGradeCount = 4;  // the grades above

// "unlikely", "never", "breaks" or "everything".
const char* gradeName(Grade grade);
// The grade named name; false when there is none.
bool gradeFromName(std::string_view name, Grade* grade);

// A rule that will not take effect.
struct LintFinding {
  size_t line = 0;                   // line number in its file, from 1
  Grade grade = Grade::kUnlikely;    // the strongest grade of its reasons
  std::string text;                  // the line as the engine received it
  std::vector<std::string> reasons;  // why, one sentence each
  // For an element-hiding rule whose selector a browser rejects, why; ""
  // otherwise (also when the rule is never served and the grade says so).
  std::string rejectedSelector;
};

// A line the engine drops although it is neither blank nor a comment.
struct RejectedLine {
  size_t line = 0;     // line number, from 1
  std::string text;    // the line (empty when it was too long to keep)
  std::string reason;  // why the engine drops it
};

// What the engine files from one list, per container. The rules are
// counted in the containers of list 0 (and in those of both lists); given
// as the second list, the file fills the list-1 containers alike.
struct LintCounts {
  size_t lines = 0;     // lines of the file
  size_t blank = 0;     // empty lines (the engine skips them)
  size_t comments = 0;  // lines beginning with "!"
  // Request rules per container, indexed like kRequestContainers.
  size_t containerRules[kRequestContainerCount] = {};
  size_t elemHideRules = 0;       // "sites##selector" rules
  size_t rejected = 0;            // lines the engine drops
  size_t withIgnoredOptions = 0;  // request rules with an unknown option
  bool byteOrderMark = false;     // the first line begins with EF BB BF

  size_t requestRules() const {
    size_t total = 0;
    for (const size_t rules : containerRules) total += rules;
    return total;
  }
};

// Thread-safety: none; one linter serves one thread.
class ListLinter {
 public:
  ListLinter() = default;
  ListLinter(const ListLinter&) = delete;
  ListLinter& operator=(const ListLinter&) = delete;

  // Looks at one line, numbered from 1, exactly as the engine receives it.
  void addLine(size_t number, const std::string& line);
  // Records a line the file reader skipped for being too long.
  void addOverlongLine(size_t number);

  const LintCounts& counts() const { return counts_; }
  // In line order. References stay valid until the next add call.
  const std::vector<LintFinding>& findings() const { return findings_; }
  const std::vector<RejectedLine>& rejected() const { return rejected_; }
  // For each option name this engine ignores, how many rules carry it.
  const std::map<std::string, size_t>& ignoredOptions() const {
    return ignoredOptions_;
  }

 private:
  void addRequestRule(size_t number, const std::string& line,
                      const RequestFilter& rule);
  void addElemHideRule(size_t number, const std::string& line,
                       const ElemHideFilter& rule);
  void countIgnoredOptions(std::string_view line);

  LintCounts counts_;                             // per container
  std::vector<LintFinding> findings_;             // in line order
  std::vector<RejectedLine> rejected_;            // in line order
  std::map<std::string, size_t> ignoredOptions_;  // name -> rules
};

// What the raw bytes of a file say about it being a rule list.
struct FileBytes {
  uint64_t bytes = 0;          // its size
  uint64_t nulBytes = 0;       // NUL bytes (the engine ends a line at one)
  uint64_t invalidUtf8 = 0;    // bytes that are no part of valid UTF-8
  bool byteOrderMark = false;  // it begins with the UTF-8 mark EF BB BF

  // Why the file is not a rule list (a binary file), or "".
  std::string notAList() const;
};

// Reads the file at path through the engine's line reader and feeds every
// line to *linter with its line number; *bytes (unless null) receives what
// its raw bytes say. The text after the last line feed is not a line.
// Returns false with a message in *error when the file cannot be opened or
// read.
bool lintFile(const std::string& path, ListLinter* linter, FileBytes* bytes,
              std::string* error);

}  // namespace quibex::tool

#endif  // QUIBEX_TOOLS_QUIBEX_LINT_H_
