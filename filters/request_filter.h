// RequestFilter: one parsed request rule (a line without "##"), and the
// parser that makes it.
//
// A rule line is turned into a wildcard pattern, an exception flag and its
// options (content types, third-party, elemhide, page domains). Nothing is
// trimmed, lower-cased or validated: every comparison is byte-wise.
//
// Storage is compact because a real list holds about a hundred thousand of
// these: the object and its text live in one allocation, and the pattern is
// stored once, contiguously, as
//     [prefix][*?][body][*?][suffix]
// where prefix + body + suffix is the original line (prefix: the removed
// "@@", "||" and "|"; suffix: a removed trailing "|" and the "$" options) and
// the optional stars are the ones the parser adds to an unanchored side.
#ifndef QUIBEX_FILTERS_REQUEST_FILTER_H_
#define QUIBEX_FILTERS_REQUEST_FILTER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "filters/domain_name_set.h"
#include "filters/rule_options.h"

namespace quibex {

class RequestFacts;
class RuleArena;

// Page-domain names of a "domain" option, in order of appearance.
struct DomainLists {
  DomainLists() = default;
  DomainLists(const DomainLists&) = delete;
  DomainLists& operator=(const DomainLists&) = delete;
  // Builds the name sets; call once the lists are complete.
  void seal() {
    includeSet = std::make_unique<DomainNameSet>(include);
    excludeSet = std::make_unique<DomainNameSet>(exclude);
  }

  std::vector<std::string> include;  // names written without "~"
  std::vector<std::string> exclude;  // names written with "~", stored without
  std::unique_ptr<DomainNameSet> includeSet;  // search over include
  std::unique_ptr<DomainNameSet> excludeSet;  // search over exclude
};

// A parsed request rule. Immutable once parseRequestFilter() returns it.
//
// Thread-safety: all const methods may be called from any number of threads
// at once; a filter is never modified after parsing.
class RequestFilter {
 public:
  RequestFilter(const RequestFilter&) = delete;
  RequestFilter& operator=(const RequestFilter&) = delete;
  ~RequestFilter() = default;

  // The object and its text share one allocation made by the parser, on
  // the heap or in a RuleArena.
  static void operator delete(void* p) { ::operator delete(p); }

  // The rule line exactly as it was handed to the parser.
  std::string text() const;
  // Length of text() without building it.
  size_t textSize() const { return textLen_; }

  // The wildcard pattern that a request URL must match as a whole. The view
  // stays valid for the lifetime of the filter.
  std::string_view pattern() const {
    return std::string_view(chars() + prefixLen_, patternLen());
  }

  bool isException() const { return flags_ & kException; }
  bool elemHide() const { return flags_ & kElemHide; }
  uint32_t typeMask() const { return typeMask_; }
  // The party bits (rule_options.h): kThirdParty and/or kFirstParty.
  uint32_t thirdParty() const { return flags_ & kPartyBits; }
  const std::vector<std::string>& includeDomains() const;
  const std::vector<std::string>& excludeDomains() const;

  // domainKey(pattern()), computed once at parse time; empty when the rule
  // has no domain key. Valid for the lifetime of the filter.
  std::string_view domainKeyView() const {
    return pattern().substr(keyOffset_, keyLen_);
  }

  // True when the request (requestUrl fetched by the page pageUrl) matches:
  // the page-domain test, the third-party test, the content-type test and
  // the wildcard match, in that order. Derives every page fact anew.
  bool matches(std::string_view requestUrl, std::string_view pageUrl) const;
  bool matchesDomain(std::string_view pageUrl) const;
  bool matchesThirdParty(std::string_view requestUrl,
                         std::string_view pageUrl) const;
  bool matchesContentType(std::string_view requestUrl) const;

  // The same decision as matches(url, page), with the facts of the request
  // (page domain key, party, URL suffix type) computed once by the caller.
  bool matches(const RequestFacts& request) const;

 private:
  friend RequestFilter* parseRequestFilterInto(
      std::string_view line, void* (*allocate)(size_t, void*), void* context);

  enum Flag : uint8_t {
    kPartyBits = kEitherParty,  // the party bits, as they are
    kException = 4,   // the line began with "@@"
    kElemHide = 8,    // an "elemhide" option was given
    kLeadStar = 16,   // a "*" was added before the body
    kTrailStar = 32,  // a "*" was added after the body
  };

  RequestFilter() = default;

  const char* chars() const { return reinterpret_cast<const char*>(this + 1); }
  char* chars() { return reinterpret_cast<char*>(this + 1); }
  size_t patternLen() const {
    return bodyLen_ + ((flags_ & kLeadStar) ? 1 : 0) +
           ((flags_ & kTrailStar) ? 1 : 0);
  }
  bool matchesDomainKey(std::string_view pageKey) const;
  bool passesParty(bool firstParty) const;

  uint32_t textLen_ = 0;     // length of the original line
  uint32_t bodyLen_ = 0;     // pattern length without the added stars
  uint32_t typeMask_ = 0;    // content-type bits (rule_options.h)
  uint32_t keyOffset_ = 0;   // domain key position inside pattern()
  uint32_t keyLen_ = 0;      // domain key length; 0 = no key
  uint8_t prefixLen_ = 0;    // bytes of "@@", "||" and "|" removed in front
  uint8_t flags_ = 0;        // Flag bits
  std::unique_ptr<DomainLists> domains_;  // null when no "domain" option
  // The stored characters follow the object in the same allocation.
};

// Longest line the parsers accept; longer lines are dropped (the loader
// never hands over lines of more than 1 MiB anyway).
inline constexpr size_t kMaxRuleLineBytes = 0x7fffffff;

// Parses one request rule line. Returns the new filter, or null for a
// comment (a line beginning with "!") or a line over kMaxRuleLineBytes.
// Every other line yields a filter; unknown options are ignored.
std::unique_ptr<RequestFilter> parseRequestFilter(std::string_view line);
// The parser itself: the filter's one block comes from allocate(bytes,
// context). Used by the two parseRequestFilter overloads.
RequestFilter* parseRequestFilterInto(std::string_view line,
                                      void* (*allocate)(size_t, void*),
                                      void* context);
// The same, with the filter placed in arena. The caller owns it: it must
// run its destructor (never delete it) before the arena is released.
RequestFilter* parseRequestFilter(std::string_view line, RuleArena& arena);

// The domain key of a text (a pattern, or a page URL): the host-like run of
// its first path segment, cut after any wildcard at the next dot. Empty, or
// a string with a "." that neither begins nor ends with ".". The view points
// into text.
std::string_view domainKeyView(std::string_view text);
inline std::string domainKey(std::string_view text) {
  return std::string(domainKeyView(text));
}

}  // namespace quibex

#endif  // QUIBEX_FILTERS_REQUEST_FILTER_H_
