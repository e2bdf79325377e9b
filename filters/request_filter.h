// RequestFilter: one parsed request rule (a line without "##"), and the
// parser that makes it.
//
// A rule line is turned into a wildcard pattern, an exception flag and its
// options (content types, third-party, elemhide, page domains). Nothing is
// trimmed, lower-cased or validated: every comparison is byte-wise.
//
// Storage is compact because a real list holds about a hundred thousand of
// these, four in five a bare "||host^". One allocation holds a 4-byte
// record, the blocks its flags call for, and the stored characters:
//     [record][sizes?][options?][wide sizes?][*?][body][*?][suffix]
// The stars are the ones the parser adds to an unanchored side, so that
// [*?][body][*?] is the pattern; suffix is the "$" options as written. The
// removed prefix ("@@", "||", "|") and a removed trailing "|" are not
// stored: the flags say which were there. The blocks:
//   sizes       the suffix and key lengths; absent for a rule without
//               suffix whose key runs to the pattern's closing "^*", as in
//               every bare "||host^";
//   options     type mask, elemhide and page domains, only for a rule that
//               has one of them;
//   wide sizes  32-bit body and suffix lengths, only for a line whose body
//               or suffix does not fit 16 bits.
#ifndef QUIBEX_FILTERS_REQUEST_FILTER_H_
#define QUIBEX_FILTERS_REQUEST_FILTER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "filters/domain_key.h"
#include "filters/domain_name_set.h"
#include "filters/rule_line.h"
#include "filters/rule_options.h"
#include "filters/wildcard.h"

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

// Where the domain key of the rules looked up under one host candidate
// stands in the request URL. A rule whose pattern is "*" and then its key
// can match only with that key at one of its places in the URL; when the
// key stands nowhere but here, the rule is tested here alone instead of
// searched for along the URL. One object serves every rule tried under its
// candidate during one decision, so the URL is looked through for other
// places of the key at most once.
//
// Thread-safety: none (occursElsewhere() remembers its answer).
class KeyPlace {
 public:
  KeyPlace() = default;
  // where: the first byte of the key inside the request URL, or null when
  // the key does not stand in the URL as one run; size: the key's length.
  // REQUIRES: size < 2^32.
  KeyPlace(const char* where, size_t size)
      : where_(where), size_(static_cast<uint32_t>(size)) {}

  const char* where() const { return where_; }
  size_t size() const { return size_; }
  // True when the size() bytes at where() occur in url at another place
  // too (overlapping places count). Worked out on the first call.
  // REQUIRES: where() is not null and lies in url with size() bytes after
  // it; the same url on every call.
  bool occursElsewhere(std::string_view url) {
    if (elsewhere_ < 0) findElsewhere(url);
    return elsewhere_ > 0;
  }
  // True when the key's other places are known and a rule's peek
  // (RequestFilter::peekAfterKey(), not 0) disagrees with the URL after
  // every one of them: the rule, which disagrees at where() too, matches
  // nowhere. False says nothing. REQUIRES: occursElsewhere() was called.
  bool peekMissesElsewhere(uint16_t peek) const;

 private:
  // The other places whose bytes after the key a KeyPlace keeps; past
  // them peekMissesElsewhere() gives no verdict.
  static constexpr int kKeptPlaces = 4;

  // Sets elsewhere_ and afterOthers_. REQUIRES: as occursElsewhere().
  void findElsewhere(std::string_view url);

  const char* where_ = nullptr;  // the key's first byte in the URL, or null
  uint32_t size_ = 0;            // the key's length
  // -1 until worked out, then the other places of the key, up to
  // kKeptPlaces, or kKeptPlaces + 1 for more.
  int8_t elsewhere_ = -1;
  // RequestFilter::bytesAfterKey() at each of the first elsewhere_ other
  // places, when there are at most kKeptPlaces.
  uint32_t afterOthers_[kKeptPlaces] = {};
};

// A parsed request rule. Immutable once parseRequestFilter() returns it.
//
// Thread-safety: all const methods may be called from any number of threads
// at once; a filter is never modified after parsing.
class RequestFilter {
 public:
  RequestFilter(const RequestFilter&) = delete;
  RequestFilter& operator=(const RequestFilter&) = delete;
  // Frees the page-domain lists, when the rule has them.
  ~RequestFilter();
  // Whether the destructor has anything to free: a rule without page-domain
  // lists may be dropped with its storage, undestroyed.
  bool ownsHeapParts() const {
    return (flags_ & kHasOptions) && options().domains != nullptr;
  }

  // The object and its blocks and text share one allocation made by the
  // parser, on the heap or in a RuleArena.
  static void operator delete(void* p) { ::operator delete(p); }

  // The rule line exactly as it was handed to the parser.
  std::string text() const;
  // Length of text() without building it.
  size_t textSize() const {
    return prefixLen() + bodyLen() + ((flags_ & kTrailStar) ? 0 : 1) +
           suffixLen();
  }

  // The wildcard pattern that a request URL must match as a whole. The view
  // stays valid for the lifetime of the filter.
  std::string_view pattern() const {
    return std::string_view(chars(), patternLen());
  }

  bool isException() const { return flags_ & kException; }
  bool elemHide() const { return (flags_ & kHasOptions) && options().elemHide; }
  uint32_t typeMask() const {
    return (flags_ & kHasOptions) ? options().typeMask : 0;
  }
  // The party bits (rule_options.h): kThirdParty and/or kFirstParty.
  uint32_t thirdParty() const { return flags_ & kPartyBits; }
  const std::vector<std::string>& includeDomains() const;
  const std::vector<std::string>& excludeDomains() const;

  // domainKey(pattern()), found at parse time; empty when the rule has no
  // domain key. Valid for the lifetime of the filter.
  std::string_view domainKeyView() const {
    if (keyOffset_ == kKeyNotStored) return quibex::domainKeyView(pattern());
    // Without a Sizes block the key ends before the pattern's closing "^*".
    const size_t keyLen =
        (flags_ & kHasSizes) ? sizes().keyLen : patternLen() - keyOffset_ - 2;
    return std::string_view(chars() + keyOffset_, keyLen);
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
  // matches(request) for a rule whose pattern is known to match
  // request.url(): the page-domain, third-party and content-type tests.
  bool matchesBesidesPattern(const RequestFacts& request) const;
  // The same decision again, for a rule looked up under its domain key:
  // place tells where that key stands in request.url().
  // REQUIRES: place->size() == domainKeyView().size(); place->where() is
  // null, or domainKeyView() stands in request.url() at place->where().
  bool matches(const RequestFacts& request, KeyPlace* place) const;
  // A quick verdict before matches(request, place), for the common case:
  // true when the rule surely does not match because the pattern's bytes
  // after its key disagree with the URL's after place (for a bare host
  // rule: no separator and no end follows there) and the key stands
  // nowhere else in url. False says nothing. REQUIRES: as matches(request,
  // place), with url == request.url().
  bool missesAtPlace(std::string_view url, KeyPlace* place) const {
    return verdictAtPlace(url, *place) == AtPlace::kDisagrees &&
           !place->occursElsewhere(url);
  }
  // What the pattern's bytes after its key say against the URL's after
  // place, the first half of missesAtPlace(): they disagree (the rule
  // matches only with its key at another place), or the rule is a bare
  // host rule followed there by a separator or the URL's end (it matches,
  // as matches(request, place) would say), or nothing is settled.
  // REQUIRES: as missesAtPlace().
  enum class AtPlace : uint8_t { kUnsettled, kDisagrees, kMatches };
  AtPlace verdictAtPlace(std::string_view url, const KeyPlace& place) const;

  // The first two bytes of the pattern after "*" and the key, as a walk
  // under a host candidate keeps them beside the rule to turn most rules
  // away without reading their record: byte 0 in bits 0-7, byte 1 in bits
  // 8-15, each a literal byte; the bytes from the first that is no literal
  // (a "*", a "^", a NUL byte, the pattern's end) are 0. 0 for a rule whose
  // first byte there is no literal or that missesAtPlace() never settles.
  uint16_t peekAfterKey() const;
  // The two bytes of the URL after a key's place as peekMisses() takes
  // them: text[0] in bits 0-7, text[1] in bits 8-15, 0 past the URL's end;
  // text holds the size bytes after the place.
  static uint32_t bytesAfterKey(const char* text, size_t size) {
    const auto byte = [text](size_t i) {
      return uint32_t{static_cast<unsigned char>(text[i])};
    };
    if (size >= 2) return byte(0) | byte(1) << 8;
    return size == 1 ? byte(0) : 0;
  }
  // The comparison of missesAtPlace() over the literal bytes of a nonzero
  // peekAfterKey() value: true when they differ from after, the URL's
  // bytesAfterKey() (a byte past the URL's end differs from every literal
  // one). The rule then matches only with its key at another place. False
  // says nothing. A peek of two bytes (above 0xff) is compared with both
  // bytes after the key, one of a byte with the first.
  static bool peekMisses(uint32_t peek, uint32_t after) {
    return peek != (peek > 0xffu ? after : (after & 0xffu));
  }

 private:
  friend RequestFilter* parseRequestFilterInto(std::string_view line,
                                               void* (*allocate)(size_t, size_t,
                                                                 void*),
                                               void* context);

  enum Flag : uint8_t {
    kPartyBits = kEitherParty,  // the party bits, as they are
    kException = 4,             // the line began with "@@"
    kDoublePipe = 8,            // a "||" followed (removed, not stored)
    kLeadStar = 16,     // a "*" was added before the body; else a "|" was
                        // removed in front of it
    kTrailStar = 32,    // a "*" was added after the body; else a "|" was
                        // removed behind it
    kHasSizes = 64,     // a Sizes block follows the record
    kHasOptions = 128,  // an Options block follows the Sizes block
  };

  // The suffix and key lengths of a rule that is not a bare host rule.
  struct Sizes {
    uint16_t suffix = 0;  // bytes from the options' "$" to the end
    uint16_t keyLen = 0;  // domain key length; 0 = no key
  };
  // What only a rule with a type, elemhide or domain option needs.
  struct Options {
    std::unique_ptr<DomainLists> domains;  // null when no "domain" names
    uint32_t typeMask = 0;                 // content-type bits
    bool elemHide = false;                 // an "elemhide" option was given
  };
  // The sizes of a line whose body or suffix does not fit 16 bits.
  struct WideSizes {
    uint32_t body = 0;    // pattern length without the added stars
    uint32_t suffix = 0;  // bytes from the options' "$" to the end
  };
  // bodyLen_ of a rule whose sizes are in a WideSizes block.
  static constexpr uint16_t kWide = 0xffff;
  // keyOffset_ of a key that does not fit the record's fields (one that
  // starts past byte 254 of the pattern or is longer than 65,535 bytes): it
  // is found anew from the pattern on each call.
  static constexpr uint8_t kKeyNotStored = 0xff;

  RequestFilter() = default;

  // The steps of parseRequestFilterInto. A line is cut into its parts
  // (flags, body, suffix, options); the filter is laid out in one
  // allocation from them (the options' domain lists move into it); last it
  // records where its domain key lies in its pattern.
  // Most lines are bare host rules ("||host^", "@@||host^"): such a line
  // whose host part holds no wildcard is laid out in one pass over it,
  // exactly as the steps below would lay it out. Returns null, having
  // allocated nothing, for any other line.
  static RequestFilter* layOutPlainBareHostRule(
      std::string_view line, void* (*allocate)(size_t, size_t, void*),
      void* context);
  struct LineParts;
  static void cutLine(std::string_view line, LineParts* parts);
  static RequestFilter* layOut(LineParts* parts,
                               void* (*allocate)(size_t, size_t, void*),
                               void* context);
  void storeDomainKey();

  // Bytes from the record's start to its first stored character. An
  // Options or WideSizes block comes only after a Sizes block.
  static size_t charsOffset(uint8_t flags, uint16_t bodyLen) {
    return sizeof(RequestFilter) + ((flags & kHasSizes) ? sizeof(Sizes) : 0) +
           ((flags & kHasOptions) ? sizeof(Options) : 0) +
           (bodyLen == kWide ? sizeof(WideSizes) : 0);
  }
  const char* block(size_t offset) const {
    return reinterpret_cast<const char*>(this) + offset;
  }
  const char* chars() const { return block(charsOffset(flags_, bodyLen_)); }
  char* chars() { return const_cast<char*>(std::as_const(*this).chars()); }
  // REQUIRES: flags_ & kHasSizes.
  const Sizes& sizes() const {
    return *reinterpret_cast<const Sizes*>(block(sizeof(RequestFilter)));
  }
  // REQUIRES: flags_ & kHasOptions.
  const Options& options() const {
    return *reinterpret_cast<const Options*>(
        block(sizeof(RequestFilter) + sizeof(Sizes)));
  }
  // REQUIRES: bodyLen_ == kWide.
  const WideSizes& wide() const {
    return *reinterpret_cast<const WideSizes*>(
        block(charsOffset(flags_, bodyLen_) - sizeof(WideSizes)));
  }
  size_t prefixLen() const {
    return ((flags_ & kException) ? 2 : 0) + ((flags_ & kDoublePipe) ? 2 : 0) +
           ((flags_ & kLeadStar) ? 0 : 1);
  }
  size_t bodyLen() const { return bodyLen_ == kWide ? wide().body : bodyLen_; }
  size_t suffixLen() const {
    if (!(flags_ & kHasSizes)) return 0;
    return bodyLen_ == kWide ? wide().suffix : sizes().suffix;
  }
  size_t patternLen() const {
    return bodyLen() + ((flags_ & kLeadStar) ? 1 : 0) +
           ((flags_ & kTrailStar) ? 1 : 0);
  }
  const DomainLists* domains() const {
    return (flags_ & kHasOptions) ? options().domains.get() : nullptr;
  }
  bool matchesDomainKey(std::string_view pageKey) const;
  bool passesParty(bool firstParty) const;
  // The option tests of matches(request) and the pattern test
  // patternMatches(), cheap tests first.
  template <class PatternTest>
  bool matchesWith(const RequestFacts& request,
                   PatternTest patternMatches) const;

  uint16_t bodyLen_ = 0;   // pattern length without the added stars, or kWide
  uint8_t flags_ = 0;      // Flag bits
  uint8_t keyOffset_ = 0;  // key position inside pattern(), or kKeyNotStored
  // The blocks and the stored characters follow in the same allocation.
};

// Parses one request rule line. Returns the new filter, or null for a
// comment (a line beginning with "!") or a line over kMaxRuleLineBytes.
// Every other line yields a filter; unknown options are ignored.
std::unique_ptr<RequestFilter> parseRequestFilter(std::string_view line);
// The parser itself: the filter's one block comes from allocate(bytes,
// alignment, context), which returns storage aligned to alignment (a power
// of two, at most alignof(std::max_align_t)). Used by the two
// parseRequestFilter overloads.
RequestFilter* parseRequestFilterInto(std::string_view line,
                                      void* (*allocate)(size_t, size_t, void*),
                                      void* context);
// The same, with the filter placed in arena. The caller owns it: it must
// run its destructor (never delete it) before the arena is released.
RequestFilter* parseRequestFilter(std::string_view line, RuleArena& arena);

// It runs for every rule a decision tries under a host candidate whose
// peek gives no verdict, so it is inline.
inline RequestFilter::AtPlace RequestFilter::verdictAtPlace(
    std::string_view url, const KeyPlace& place) const {
  // Only a pattern "*" key ... is placed by its key (see matches()).
  if (place.where() == nullptr || keyOffset_ != 1 || !(flags_ & kLeadStar)) {
    return AtPlace::kUnsettled;
  }
  const size_t after =
      static_cast<size_t>(place.where() - url.data()) + place.size();
  if (flags_ & kHasSizes) {
    // A pattern too long for the record's 16-bit size: the full test
    // decides.
    if (bodyLen_ == kWide) return AtPlace::kUnsettled;
    // The pattern after the "*" and the key, up to its first "*", against
    // the URL after place: a literal byte that differs, or a "^" facing a
    // byte that is no separator, is a miss there; a run that agrees to its
    // end says nothing. The pattern starts after the Sizes block and the
    // Options block, when there is one; it is the body and a closing "*",
    // when one was added.
    const char* const rest =
        block(sizeof(RequestFilter) + sizeof(Sizes) +
              ((flags_ & kHasOptions) ? sizeof(Options) : 0)) +
        1 + place.size();
    const size_t restSize =
        size_t{bodyLen_} + ((flags_ & kTrailStar) ? 1 : 0) - place.size();
    const char* const text = url.data() + after;
    const size_t textSize = url.size() - after;
    const size_t both = restSize < textSize ? restSize : textSize;
    size_t i = 0;
    for (; i < both; ++i) {
      const char byte = rest[i];
      if (byte == text[i]) {
        if (byte == '*' || byte == '^') return AtPlace::kUnsettled;
        continue;
      }
      if (byte == '*') return AtPlace::kUnsettled;
      if (byte == '^' && isSeparator(static_cast<unsigned char>(text[i]))) {
        return AtPlace::kUnsettled;
      }
      break;
    }
    // At the URL's end a literal byte is a miss; "^" and "*" say nothing.
    if (i == both && (i == restSize || rest[i] == '*' || rest[i] == '^')) {
      return AtPlace::kUnsettled;
    }
  } else if (after == url.size() ||
             isSeparator(static_cast<unsigned char>(url[after]))) {
    // A rule without a Sizes block is a bare host rule, "*" key "^*"
    // without options: a separator or the end after its key is a match.
    return AtPlace::kMatches;
  }
  return AtPlace::kDisagrees;
}

// A load calls it once for each rule filed under a key that holds others,
// so it is inline.
inline uint16_t RequestFilter::peekAfterKey() const {
  // Placed as missesAtPlace() places a rule; a pattern too long for the
  // record's 16-bit size is left to the full test there too. A bare host
  // rule has "^" after its key.
  constexpr uint8_t kPlacedFlags = kLeadStar | kHasSizes;
  if ((flags_ & kPlacedFlags) != kPlacedFlags || keyOffset_ != 1 ||
      bodyLen_ == kWide) {
    return 0;
  }
  const size_t keyLen = sizes().keyLen;
  const size_t restSize =
      size_t{bodyLen_} + ((flags_ & kTrailStar) ? 1 : 0) - keyLen;
  const char* const rest = chars() + 1 + keyLen;
  const auto literal = [](char byte) {
    return byte != '*' && byte != '^' && byte != '\0';
  };
  if (restSize == 0 || !literal(rest[0])) return 0;
  const uint16_t first = static_cast<unsigned char>(rest[0]);
  if (restSize == 1 || !literal(rest[1])) return first;
  return static_cast<uint16_t>(first | static_cast<unsigned char>(rest[1])
                                           << 8);
}

}  // namespace quibex

#endif  // QUIBEX_FILTERS_REQUEST_FILTER_H_
