// ElemHideFilter: one parsed element-hiding rule, "sites##selector", and its
// domain test.
//
// Only site-specific rules exist: a comment ("!") or a rule without sites
// ("##..." at position 0) is rejected. The site entries before the first
// "##" are split on "," verbatim (no trimming, no case folding, empty entries
// kept); an entry written with "~" excludes, the others include. The
// selector is everything after the first "##".
//
// Storage is one allocation: the object, the entry ranges, then the text.
// Entries and the selector are views into the text.
#ifndef QUIBEX_FILTERS_ELEM_HIDE_FILTER_H_
#define QUIBEX_FILTERS_ELEM_HIDE_FILTER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quibex {

class RuleArena;

// A parsed element-hiding rule. Immutable once fromText() returns it.
//
// Thread-safety: all const methods may be called from any number of threads.
class ElemHideFilter {
 public:
  ElemHideFilter(const ElemHideFilter&) = delete;
  ElemHideFilter& operator=(const ElemHideFilter&) = delete;
  ~ElemHideFilter() = default;

  // The object, its entry ranges and its text share one allocation.
  static void operator delete(void* p) { ::operator delete(p); }

  // Parses one line containing "##". Returns null for a comment, a line
  // without "##", a line whose first "##" stands at position 0 (a generic
  // rule), or a line over kMaxRuleLineBytes.
  static std::unique_ptr<ElemHideFilter> fromText(std::string_view line);
  // The same, with the filter placed in arena. The caller owns it and never
  // deletes it; the filter has nothing to destroy.
  static ElemHideFilter* fromText(std::string_view line, RuleArena& arena);

  // The rule line exactly as handed over. Valid for the filter's lifetime.
  std::string_view text() const { return std::string_view(chars(), textLen_); }

  // A copy of the included site entries, in rule order.
  std::vector<std::string> getIncludeDomains() const;

  // Number of included or excluded entries, and entry i (views into text()).
  size_t includeCount() const { return includeCount_; }
  size_t excludeCount() const { return excludeCount_; }
  std::string_view includeDomain(size_t i) const;
  std::string_view excludeDomain(size_t i) const;

  // The domain test on a page host with any port suffix: false when an
  // excluded entry occurs anywhere in hostWithPort, else true when an
  // included entry does, else false. Plain byte substring search; an empty
  // entry occurs in every host.
  bool isActiveOnHost(std::string_view hostWithPort) const;

  // Everything after the first "##". Valid for the filter's lifetime.
  std::string_view getSelector() const {
    return text().substr(selectorOffset_);
  }

 private:
  struct Range {
    uint32_t offset;  // first byte of the entry in text()
    uint32_t length;  // entry length in bytes
  };

  ElemHideFilter() = default;
  static ElemHideFilter* parse(std::string_view line,
                               void* (*allocate)(size_t, void*), void* context);

  const Range* ranges() const {
    return reinterpret_cast<const Range*>(this + 1);
  }
  Range* ranges() { return reinterpret_cast<Range*>(this + 1); }
  const char* chars() const {
    return reinterpret_cast<const char*>(ranges() + includeCount_ +
                                         excludeCount_);
  }
  std::string_view rangeText(const Range& r) const {
    return std::string_view(chars() + r.offset, r.length);
  }

  uint32_t textLen_ = 0;         // length of the rule line
  uint32_t selectorOffset_ = 0;  // first byte of the selector in text()
  uint32_t includeCount_ = 0;    // included entries (ranges first)
  uint32_t excludeCount_ = 0;    // excluded entries (ranges after those)
  // The ranges and then the text follow the object in the same allocation.
};

}  // namespace quibex

#endif  // QUIBEX_FILTERS_ELEM_HIDE_FILTER_H_
