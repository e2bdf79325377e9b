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

  // Walk back from the host end to the first byte of the URL; the key starts
  // after the second dot met.
  size_t keyStart = start;
  int dots = 0;
  for (size_t i = hostEnd; i > 0; --i) {
    if (url[i - 1] == '.' && ++dots == 2) {
      keyStart = i;
      break;
    }
  }
  if (keyStart > hostEnd) return {};
  return hostLikeOrEmpty(url.substr(keyStart, hostEnd - keyStart));
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
