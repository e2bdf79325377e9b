// Site key, suffix typing and party of a request; see request_facts.h.
#include "filters/request_facts.h"

#include <array>

#include "filters/domain_key.h"
#include "filters/rule_options.h"
#include "filters/text_util.h"
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

void RequestFacts::derivePageKeys() const { findPageKeys(); }

inline void RequestFacts::findPageKeys() const {
  pageKeysKnown_ = true;
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
  bool colon = false;    // a ":" lies before end
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
  const bool first =
      key.empty() || endsWith(urlHost_, key) || siteKeyOccurs(url_, key);
  firstParty_ = first ? 1 : 0;
}

}  // namespace quibex
