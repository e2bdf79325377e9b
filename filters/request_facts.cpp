// Site key, suffix typing and party of a request; see request_facts.h.
#include "filters/request_facts.h"

#include "filters/domain_key.h"
#include "filters/rule_options.h"
#include "filters/text_util.h"

namespace quibex {

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

bool isFirstParty(std::string_view requestUrl, std::string_view pageUrl) {
  return contains(requestUrl, siteKeyView(pageUrl));
}

void RequestFacts::derivePageDomainKey() const {
  pageDomainKey_ = domainKeyView(pageUrl_);
  pageKeyKnown_ = true;
}

bool RequestFacts::firstParty() const {
  if (firstParty_ < 0) firstParty_ = isFirstParty(url_, pageUrl_) ? 1 : 0;
  return firstParty_ == 1;
}

}  // namespace quibex
