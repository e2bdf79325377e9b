// routeRuleLine: which parser a plain rule line goes to, and the longest
// line the parsers accept. The engine's line intake, the list linter and the
// benchmarks all route lines through it, so they cannot disagree about what
// a line is.
#ifndef QUIBEX_FILTERS_RULE_LINE_H_
#define QUIBEX_FILTERS_RULE_LINE_H_

#include <cstddef>
#include <string_view>

namespace quibex {

// Longest line the parsers accept; longer lines are dropped (the loader
// never hands over lines of more than 1 MiB anyway).
inline constexpr size_t kMaxRuleLineBytes = 0x7fffffff;

// What a plain rule line is. Lines reach the router exactly as deciphered,
// untrimmed, so a blank before "!" makes a request rule.
enum class RuleLineKind {
  kComment,   // begins with "!": dropped, whatever follows
  kElemHide,  // contains "##" anywhere: for ElemHideFilter::fromText only;
              // a line that parser rejects is dropped, never read as a
              // request rule
  kRequest,   // every other line: for parseRequestFilter
};

inline RuleLineKind routeRuleLine(std::string_view line) {
  if (!line.empty() && line[0] == '!') return RuleLineKind::kComment;
  if (line.find("##") != std::string_view::npos) return RuleLineKind::kElemHide;
  return RuleLineKind::kRequest;
}

}  // namespace quibex

#endif  // QUIBEX_FILTERS_RULE_LINE_H_
