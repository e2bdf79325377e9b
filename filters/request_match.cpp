// Matching one request against one RequestFilter: the page-domain test, the
// third-party test, the content-type test and the wildcard match, in that
// order, each failing fast.
#include <cassert>
#include <cstring>

#include "filters/request_facts.h"
#include "filters/request_filter.h"
#include "filters/rule_options.h"
#include "filters/text_util.h"
#include "filters/vector_scan.h"
#include "filters/wildcard.h"

namespace quibex {
namespace {

// Domain lists up to this length are tested before the pattern.
constexpr size_t kShortDomainList = 4;

// Places visited (a dot's, or one whose first and last bytes are the
// key's) before the search for other places of a key turns into a literal
// search of the rest of the text: a key's dot or its first and last bytes
// are cheaper to look for than the key itself unless the text is full of
// them.
constexpr size_t kPlaceVisits = 32;

// Calls visit(p) for each place p other than at where needle occurs in
// text at or after from, in order, until visit returns true; returns
// whether one did.
template <class Visit>
bool visitFromOtherThanAt(std::string_view text, size_t from, size_t at,
                          std::string_view needle, Visit& visit) {
  for (size_t p = findLiteral(text, from, needle); p != std::string_view::npos;
       p = findLiteral(text, p + 1, needle)) {
    if (p != at && visit(p)) return true;
  }
  return false;
}

#if defined(QUIBEX_VECTOR_SCAN)
// Calls visit(block + i) for each bit i of candidates whose place holds
// the size bytes at at, in order, until visit returns true, counting the
// places compared in *checks; past kPlaceVisits of them the rest of the text
// is left to a literal search. Returns true when the walk is over, with
// *found telling whether visit returned true; false to go on.
// REQUIRES: the bit of at itself is not set.
template <class Visit>
bool visitCandidates(std::string_view text, size_t at, size_t size,
                     size_t block, uint32_t candidates, size_t* checks,
                     Visit& visit, bool* found) {
  for (; candidates != 0; candidates &= candidates - 1) {
    const size_t place = block + static_cast<size_t>(__builtin_ctz(candidates));
    if (++*checks > kPlaceVisits) {
      *found =
          visitFromOtherThanAt(text, place, at, text.substr(at, size), visit);
      return true;
    }
    if (sameBytes(text.data() + place, text.data() + at, size) &&
        visit(place)) {
      *found = true;
      return true;
    }
  }
  return false;
}

// The candidates of the block of sixteen places from block without the
// place at, which always is one.
inline uint32_t withoutPlace(uint32_t candidates, size_t block, size_t at) {
  return at - block < 16 ? candidates & ~(uint32_t{1} << (at - block))
                         : candidates;
}

// visitOtherPlaces() for a text of at least sixteen bytes: sixteen places
// at a time, those whose first and last bytes are the needle's are
// compared whole, up to kPlaceVisits of them. Linear in the text's length.
template <class Visit>
bool visitOtherPlaces16(std::string_view text, size_t at, size_t size,
                        Visit& visit) {
  const char* const base = text.data();
  const char first = base[at];
  const char last = base[at + size - 1];
  const size_t places = text.size() - size + 1;
  size_t checks = 0;
  bool found = false;
  size_t block = 0;
  // Blocks whose sixteen last bytes lie within the text.
  for (; block + 16 <= places; block += 16) {
    uint32_t candidates = bytesEqual16(base + block, first) &
                          bytesEqual16(base + block + size - 1, last);
    if (candidates != 0 &&
        (candidates = withoutPlace(candidates, block, at)) != 0 &&
        visitCandidates(text, at, size, block, candidates, &checks, visit,
                        &found)) {
      return found;
    }
  }
  if (block == places) return false;
  // The last byte's mask holds no place past the last one.
  const uint32_t candidates = withoutPlace(
      bytesEqual16Near(base, text.size(), block, first) &
          bytesEqual16Near(base, text.size(), block + size - 1, last),
      block, at);
  return candidates != 0 &&
         visitCandidates(text, at, size, block, candidates, &checks, visit,
                         &found) &&
         found;
}
#endif

// Calls visit(p) for each place p other than at where the size bytes at at
// occur in text too (overlapping places count), in order, until visit
// returns true; returns whether one did. A needle with a dot has it at
// the same offset in every place, so the dots of the text are visited (a
// domain key always has one), up to kPlaceVisits of them.
template <class Visit>
bool visitOtherPlaces(std::string_view text, size_t at, size_t size,
                      Visit& visit) {
#if defined(QUIBEX_VECTOR_SCAN)
  if (text.size() >= 16) return visitOtherPlaces16(text, at, size, visit);
#endif
  const std::string_view needle = text.substr(at, size);
  const size_t dot = needle.find('.');
  if (dot == std::string_view::npos) {
    return visitFromOtherThanAt(text, 0, at, needle, visit);
  }
  const char* const base = text.data();
  // The dot of a place that ends by the text's end lies at last at most.
  const char* const last = base + (text.size() - size) + dot;
  size_t visits = 0;
  for (const char* p = base + dot; p <= last; ++p) {
    p = static_cast<const char*>(
        std::memchr(p, '.', static_cast<size_t>(last - p) + 1));
    if (p == nullptr) return false;
    const char* const start = p - dot;
    if (++visits > kPlaceVisits) {
      return visitFromOtherThanAt(text, static_cast<size_t>(start - base), at,
                                  needle, visit);
    }
    // The first and last bytes turn most places away before a comparison.
    if (start != base + at && start[0] == needle[0] &&
        start[size - 1] == needle[size - 1] &&
        std::memcmp(start, needle.data(), size) == 0 &&
        visit(static_cast<size_t>(start - base))) {
      return true;
    }
  }
  return false;
}

// wildcardMatch(text.substr(from), pattern): the bytes before the first
// "*" are compared in place, which settles most rules tried at their key's
// place within a byte or two.
bool matchesAfter(std::string_view text, size_t from,
                  std::string_view pattern) {
  size_t t = from;
  const size_t n = text.size();
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char p = pattern[i];
    if (p == '*') {
      // A closing "*" takes whatever is left.
      return i + 1 == pattern.size() ||
             wildcardMatch(text.substr(t), pattern.substr(i));
    }
    if (p == '^') {
      if (t == n) continue;
      if (!isSeparator(static_cast<unsigned char>(text[t]))) return false;
    } else if (t == n || text[t] != p) {
      return false;
    }
    ++t;
  }
  return t == n;
}

}  // namespace

// Page-domain test against an already derived domain key of the page.
bool RequestFilter::matchesDomainKey(std::string_view pageKey) const {
  const DomainLists* domains = this->domains();
  if (domains == nullptr) return true;
  const DomainLists& lists = *domains;
  if (pageKey.empty()) return false;
  if (lists.excludeSet->anyOccursIn(pageKey)) return false;
  if (lists.includeSet->anyOccursIn(pageKey)) return true;
  return !lists.exclude.empty();
}

// Third-party test once the page is known to be non-empty.
bool RequestFilter::passesParty(bool firstParty) const {
  return (flags_ & partyOf(firstParty)) != 0;
}

bool RequestFilter::matchesDomain(std::string_view pageUrl) const {
  if (domains() == nullptr) return true;
  return matchesDomainKey(quibex::domainKeyView(pageUrl));
}

bool RequestFilter::matchesThirdParty(std::string_view requestUrl,
                                      std::string_view pageUrl) const {
  if ((flags_ & kPartyBits) == 0) return true;
  if (pageUrl.empty()) return false;
  return passesParty(isFirstParty(requestUrl, pageUrl));
}

bool RequestFilter::matchesContentType(std::string_view requestUrl) const {
  const uint32_t mask = typeMask();
  if (mask == 0) return true;
  return (mask & contentTypesOf(requestUrl)) != 0;
}

bool RequestFilter::matches(std::string_view requestUrl,
                            std::string_view pageUrl) const {
  return matchesDomain(pageUrl) && matchesThirdParty(requestUrl, pageUrl) &&
         matchesContentType(requestUrl) && wildcardMatch(requestUrl, pattern());
}

template <class PatternTest>
bool RequestFilter::matchesWith(const RequestFacts& request,
                                PatternTest patternMatches) const {
  // The four tests form a conjunction, so they may run in any order: the
  // cheap ones first, and a long page-domain list after the pattern.
  if (flags_ & kPartyBits) {
    if (request.pageUrl().empty()) return false;
    if (!passesParty(request.firstParty())) return false;
  }
  if (!(flags_ & kHasOptions)) return patternMatches();
  const Options& more = options();
  if (more.typeMask != 0 && (more.typeMask & request.urlTypes()) == 0) {
    return false;
  }
  if (!more.domains) return patternMatches();
  const size_t names =
      more.domains->include.size() + more.domains->exclude.size();
  if (names <= kShortDomainList) {
    return matchesDomainKey(request.pageDomainKey()) && patternMatches();
  }
  return patternMatches() && matchesDomainKey(request.pageDomainKey());
}

bool RequestFilter::matches(const RequestFacts& request) const {
  return matchesWith(request, [this, &request] {
    return wildcardMatch(request.url(), pattern());
  });
}

bool RequestFilter::matchesBesidesPattern(const RequestFacts& request) const {
  return matchesWith(request, [] { return true; });
}

bool RequestFilter::matches(const RequestFacts& request,
                            KeyPlace* place) const {
  // Only a pattern "*" key ... is placed by its key: any match of its first
  // piece puts the key (which holds no wildcard) at that piece's start.
  if (place->where() == nullptr || keyOffset_ != 1 || !(flags_ & kLeadStar)) {
    return matchesWith(request, [this, &request] {
      return wildcardMatch(request.url(), pattern());
    });
  }
  const std::string_view url = request.url();
  const size_t after =
      static_cast<size_t>(place->where() - url.data()) + place->size();
  // A bare host rule ("||host^", four rules in five) has no options, and
  // its pattern is "*", its key and "^*": at the key's place it matches
  // when a separator or the URL's end follows.
  if (!(flags_ & kHasSizes)) {
    if (after == url.size() ||
        isSeparator(static_cast<unsigned char>(url[after]))) {
      return true;
    }
    return place->occursElsewhere(url) && wildcardMatch(url, pattern());
  }
  // Any other rule: the rest of the pattern must match after the key. A
  // match there is a match; when the key stands nowhere else, there is no
  // other place to try. That test, which most rules fail at the byte after
  // the key, comes before the options, whose facts may cost more; the
  // search of the whole URL comes after them.
  const std::string_view whole = pattern();
  const size_t skipped = 1 + place->size();  // the "*" and the key
  if (matchesAfter(
          url, after,
          std::string_view(whole.data() + skipped, whole.size() - skipped))) {
    return matchesWith(request, [] { return true; });
  }
  if (!place->occursElsewhere(url)) return false;
  return matchesWith(request,
                     [url, whole] { return wildcardMatch(url, whole); });
}

void KeyPlace::findElsewhere(std::string_view url) {
  const size_t at = static_cast<size_t>(where_ - url.data());
  int8_t count = 0;
  auto keep = [this, url, &count](size_t place) {
    if (count == kKeptPlaces) {
      count = kKeptPlaces + 1;
      return true;
    }
    const size_t after = place + size_;
    afterOthers_[count++] =
        RequestFilter::bytesAfterKey(url.data() + after, url.size() - after);
    return false;
  };
  visitOtherPlaces(url, at, size_, keep);
  elsewhere_ = count;
}

bool KeyPlace::peekMissesElsewhere(uint16_t peek) const {
  assert(elsewhere_ >= 0 && peek != 0);
  if (elsewhere_ > kKeptPlaces) return false;
  for (int i = 0; i < elsewhere_; ++i) {
    if (!RequestFilter::peekMisses(peek, afterOthers_[i])) return false;
  }
  return true;
}

}  // namespace quibex
