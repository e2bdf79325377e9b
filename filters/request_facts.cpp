// Site key, suffix typing and party of a request; see request_facts.h.
#include "filters/request_facts.h"

#include <array>
#include <cstring>

#include "filters/domain_key.h"
#include "filters/rule_options.h"
#include "filters/text_util.h"
#include "filters/vector_scan.h"
#include "filters/wildcard.h"

namespace quibex {
namespace {

// What a byte of a page's host tells the walk of derivePageKeys().
enum HostByteKind : uint8_t { kOther, kDot, kSlash, kColon, kWildcard };

constexpr std::array<uint8_t, 256> kHostByteKinds = [] {
  std::array<uint8_t, 256> kinds{};
  kinds['.'] = kDot;
  kinds['/'] = kSlash;
  kinds[':'] = kColon;
  kinds['*'] = kWildcard;
  kinds['^'] = kWildcard;
  return kinds;
}();

}  // namespace

std::string_view siteKeyView(std::string_view url) {
  const size_t start = skipSchemeAndStars(url);
  size_t hostEnd = url.find('/', start);
  if (hostEnd == std::string_view::npos) hostEnd = url.find(':', start);
  if (hostEnd == std::string_view::npos) hostEnd = url.size();

  // The key starts after the second dot from the host's end, or with the
  // host. What precedes the host ("*", a scheme) holds no dot, so the walk
  // stops at the host's first byte.
  const char* const host = url.data() + start;
  const char* p = url.data() + hostEnd;
  const char* keyStart = host;
  int dots = 0;
  while (p != host) {
    if (*--p == '.' && ++dots == 2) {
      keyStart = p + 1;
      break;
    }
  }
  return hostLikeOrEmpty(std::string_view(
      keyStart, static_cast<size_t>(url.data() + hostEnd - keyStart)));
}

uint32_t contentTypesOf(std::string_view requestUrl) {
  for (const UrlSuffixType& entry : kUrlSuffixTypes) {
    if (endsWith(requestUrl, entry.suffix)) return entry.type;
  }
  return 0;
}

namespace {

// Whether key occurs in url, in time linear in their lengths: a page's
// host, and so its site key, may be as long as the URL.
inline bool siteKeyOccurs(std::string_view url, std::string_view key) {
  return findLiteral(url, 0, key) != std::string_view::npos;
}

}  // namespace

bool isFirstParty(std::string_view requestUrl, std::string_view pageUrl) {
  return siteKeyOccurs(requestUrl, siteKeyView(pageUrl));
}

namespace {

// Whether a text of at most sixteen bytes holds a dot, told from two
// overlapping words without a loop over its bytes.
inline bool shortTextHoldsDot(const char* bytes, size_t size) {
  if (size >= 8) {
    uint64_t head;
    uint64_t tail;
    std::memcpy(&head, bytes, 8);
    std::memcpy(&tail, bytes + size - 8, 8);
    return (holdsByte(head, '.') | holdsByte(tail, '.')) != 0;
  }
  if (size >= 4) {
    uint32_t head;
    uint32_t tail;
    std::memcpy(&head, bytes, 4);
    std::memcpy(&tail, bytes + size - 4, 4);
    return holdsByte(uint64_t{head} << 32 | tail, '.') != 0;
  }
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] == '.') return true;
  }
  return false;
}

#if defined(QUIBEX_VECTOR_SCAN)
// The dots, and the bytes that end or stop the page host's walk ("/", ":",
// "*", "^"), of the sixteen bytes at p, as masks: byte i is bit i.
#if defined(__SSE2__)
inline void classifyPage16(const char* p, uint32_t* dots, uint32_t* stops) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const auto is = [v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
  *dots = static_cast<uint32_t>(_mm_movemask_epi8(is('.')));
  *stops = static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(
      _mm_or_si128(is('/'), is(':')), _mm_or_si128(is('*'), is('^')))));
}
#else
inline void classifyPage16(const char* p, uint32_t* dots, uint32_t* stops) {
  *dots = bytesEqual16(p, '.');
  *stops = bytesEqual16(p, '/') | bytesEqual16(p, ':') | bytesEqual16(p, '*') |
           bytesEqual16(p, '^');
}
#endif

// The bit of a nonzero mask that is highest.
inline unsigned highestBit(uint64_t mask) {
  return 63 - static_cast<unsigned>(__builtin_clzll(mask));
}

// The page host's end and last two dots (each plus one, 0 for none), from
// masks of at most the host's first 64 bytes read sixteen at a time; the
// last bytes of the page are read as the sixteen that end it. False, with
// nothing set, for a host that the byte walk must take: one that holds a
// ":" or a wildcard, or is longer than 63 bytes.
// REQUIRES: start <= page.size(), page.size() >= 16.
inline bool scanPageHost(std::string_view page, size_t start, size_t* end,
                         size_t* lastDot, size_t* secondDot) {
  const char* const bytes = page.data();
  const size_t size = page.size();
  const size_t rest = size - start;
  uint64_t dots = 0;
  uint64_t stops = 0;
  for (size_t offset = 0;; offset += 16) {
    if (offset == 64) return false;
    const size_t left = rest - offset;
    uint32_t blockDots;
    uint32_t blockStops;
    if (left >= 16) {
      classifyPage16(bytes + start + offset, &blockDots, &blockStops);
      dots |= uint64_t{blockDots} << offset;
      stops |= uint64_t{blockStops} << offset;
      if (blockStops != 0) break;
      continue;
    }
    // The page's last sixteen bytes: the host's bytes from rest - 16 on.
    // A byte before start, when rest < 16, is shifted out; the bytes
    // that overlap the blocks before give the same bits again.
    if (left != 0) {
      classifyPage16(bytes + size - 16, &blockDots, &blockStops);
      if (rest >= 16) {
        dots |= uint64_t{blockDots} << (rest - 16);
        stops |= uint64_t{blockStops} << (rest - 16);
      } else {
        dots |= uint64_t{blockDots} >> (16 - rest);
        stops |= uint64_t{blockStops} >> (16 - rest);
      }
    }
    // The page's end ends the host too.
    stops |= uint64_t{1} << rest;
    break;
  }
  const size_t stop = static_cast<size_t>(__builtin_ctzll(stops));
  if (stop != rest && bytes[start + stop] != '/') return false;
  dots &= (stops & (0 - stops)) - 1;
  *end = start + stop;
  if (dots == 0) return true;
  const unsigned last = highestBit(dots);
  *lastDot = start + last + 1;
  dots &= ~(uint64_t{1} << last);
  if (dots != 0) *secondDot = start + highestBit(dots) + 1;
  return true;
}
#endif

}  // namespace

void RequestFacts::derivePageKeys() const { findPageKeys(); }

inline void RequestFacts::findPageKeys() const {
  pageKeysKnown_ = true;
  // Both keys hold a dot: a page without one (an empty page, a bare
  // "https://") has neither.
  if (pageUrl_.size() <= 16 &&
      !shortTextHoldsDot(pageUrl_.data(), pageUrl_.size())) {
    return;
  }
  findHostKeys();
}

void RequestFacts::findHostKeys() const {
  const std::string_view page = pageUrl_;
  const char* const bytes = page.data();
  const size_t size = page.size();
  const size_t start = skipSchemeAndStars(page);
  // One walk over the host finds where it ends and its last two dots. Both
  // keys end where the host does, at its "/". Without one the site key
  // ends at a ":" and the domain key before trailing wildcards, and a
  // wildcard elsewhere cuts the domain key: in those cases (never a real
  // page's host) each key is found on its own.
  size_t end = size;
  size_t lastDot = 0;    // the last dot, plus one; 0 for none
  size_t secondDot = 0;  // the dot before it, plus one; 0 for none
#if defined(QUIBEX_VECTOR_SCAN)
  if (size < 16 || !scanPageHost(page, start, &end, &lastDot, &secondDot)) {
#endif
    bool colon = false;  // a ":" lies before end
    for (size_t i = start; i < size; ++i) {
      const uint8_t kind = kHostByteKinds[static_cast<unsigned char>(bytes[i])];
      if (kind == kOther) continue;
      if (kind == kDot) {
        secondDot = lastDot;
        lastDot = i + 1;
      } else if (kind == kSlash) {
        end = i;
        break;
      } else if (kind == kColon) {
        colon = true;
      } else {
        pageDomainKey_ = domainKeyView(page);
        pageSiteKey_ = siteKeyView(page);
        return;
      }
    }
    if (colon && end == size) {
      pageDomainKey_ = domainKeyView(page);
      pageSiteKey_ = siteKeyView(page);
      return;
    }
#if defined(QUIBEX_VECTOR_SCAN)
  }
#endif
  // Without a dot, or with a dot at the end, the host gives neither key.
  if (lastDot == 0 || bytes[end - 1] == '.') return;
  // Otherwise the host is the domain key unless it begins with a dot, and
  // its last two labels are the site key unless the first of them is empty.
  if (bytes[start] != '.') {
    pageDomainKey_ = std::string_view(bytes + start, end - start);
  }
  const size_t siteStart = secondDot != 0 ? secondDot : start;
  if (bytes[siteStart] != '.') {
    pageSiteKey_ = std::string_view(bytes + siteStart, end - siteStart);
  }
}

void RequestFacts::deriveParty() const {
  if (!pageKeysKnown_) findPageKeys();
  const std::string_view key = pageSiteKey_;
  // The page's site key most often ends the request's own host.
  const bool first = key.empty() ||
                     (urlHost_.size() >= key.size() &&
                      sameBytes(urlHost_.data() + urlHost_.size() - key.size(),
                                key.data(), key.size())) ||
                     siteKeyOccurs(url_, key);
  firstParty_ = first ? 1 : 0;
}

}  // namespace quibex
