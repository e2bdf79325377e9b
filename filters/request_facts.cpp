// Site key, suffix typing and party of a request; see request_facts.h.
#include "filters/request_facts.h"

#include "filters/request_filter.h"
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
  if (endsWith(requestUrl, ".js")) return kTypeScript;
  if (endsWith(requestUrl, ".css")) return kTypeStylesheet;
  if (endsWith(requestUrl, ".swf")) return kTypeObject;
  static constexpr std::string_view kImageSuffixes[] = {
      ".jpg", ".jpeg", ".png", ".gif", ".ico", ".bmp"};
  for (const std::string_view suffix : kImageSuffixes) {
    if (endsWith(requestUrl, suffix)) return kTypeImage;
  }
  return 0;
}

bool isFirstParty(std::string_view requestUrl, std::string_view pageUrl) {
  return contains(requestUrl, siteKeyView(pageUrl));
}

void PageKeys::setPage(std::string_view pageUrl) {
  const size_t hostStart = skipSchemeAndStars(pageUrl);
  if (known_ && hostStart == hostStart_ &&
      (endsAtSlash_ ? startsWith(pageUrl, origin_) : pageUrl == origin_)) {
    return;
  }
  const size_t slash = pageUrl.find('/', hostStart);
  endsAtSlash_ = slash != std::string_view::npos;
  const std::string_view origin =
      endsAtSlash_ ? pageUrl.substr(0, slash + 1) : pageUrl;
  origin_.assign(origin.data(), origin.size());
  hostStart_ = hostStart;
  known_ = true;
  domainKey_ = siteKey_ = kUnknown;
}

PageKeys::Span PageKeys::derive(bool domain) const {
  const std::string_view key =
      domain ? domainKeyView(origin_) : siteKeyView(origin_);
  if (key.empty()) return Span{0, 0};
  return Span{static_cast<size_t>(key.data() - origin_.data()), key.size()};
}

void RequestFacts::derivePageDomainKey() const {
  pageDomainKey_ =
      page_ != nullptr ? page_->domainKey() : domainKeyView(pageUrl_);
  pageKeyKnown_ = true;
}

bool RequestFacts::firstParty() const {
  if (firstParty_ < 0) {
    const bool first = page_ != nullptr ? contains(url_, page_->siteKey())
                                        : isFirstParty(url_, pageUrl_);
    firstParty_ = first ? 1 : 0;
  }
  return firstParty_ == 1;
}

}  // namespace quibex
