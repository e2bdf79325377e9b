// The facts about one request that the option tests of every rule need:
// the page's domain key, whether the request is first-party to the page,
// and which content types the request URL's suffix satisfies. The plain
// matcher derives them anew for every rule; a decision derives them once
// into a RequestFacts and shares it with every rule it tries.
#ifndef QUIBEX_FILTERS_REQUEST_FACTS_H_
#define QUIBEX_FILTERS_REQUEST_FACTS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quibex {

// The site key of a URL: the last two labels of its host (the host ends at
// the first "/", or failing that the first ":"). Empty, or a string with a
// "." that neither begins nor ends with ".". The view points into url.
std::string_view siteKeyView(std::string_view url);
inline std::string siteKey(std::string_view url) {
  return std::string(siteKeyView(url));
}

// Content-type bits (rule_options.h) that a request URL satisfies by its
// suffix: ".js", ".css", ".swf", or one of the image suffixes.
uint32_t contentTypesOf(std::string_view requestUrl);

// True when the site key of pageUrl occurs in requestUrl (an empty site key
// always does). Linear in the lengths of both.
bool isFirstParty(std::string_view requestUrl, std::string_view pageUrl);

// Facts of one request (request URL and page URL), each derived on first
// use: a request decided by a rule that asks for none of them pays for none.
// The page's domain key and site key are found together, in one pass over
// the page's host, when either is first asked for.
//
// REQUIRES: the strings outlive the object; it keeps views of them.
// Thread-safety: not thread-safe (every fact is computed on first use).
class RequestFacts {
 public:
  // urlHost, when given, is the host of url (extractHostView(url)), a view
  // into url: the party test looks there first.
  // REQUIRES: urlHost is empty or a view into url.
  RequestFacts(std::string_view url, std::string_view pageUrl,
               std::string_view urlHost = {})
      : url_(url), pageUrl_(pageUrl), urlHost_(urlHost) {}
  RequestFacts(const RequestFacts&) = delete;
  RequestFacts& operator=(const RequestFacts&) = delete;

  std::string_view url() const { return url_; }
  std::string_view pageUrl() const { return pageUrl_; }
  // domainKeyView(pageUrl), a view into pageUrl.
  std::string_view pageDomainKey() const {
    if (!pageKeysKnown_) derivePageKeys();
    return pageDomainKey_;
  }
  // contentTypesOf(url).
  uint32_t urlTypes() const {
    if (urlTypes_ == kUnknownTypes) urlTypes_ = contentTypesOf(url_);
    return urlTypes_;
  }
  // isFirstParty(url, pageUrl).
  bool firstParty() const {
    if (firstParty_ < 0) deriveParty();
    return firstParty_ == 1;
  }

 private:
  static constexpr uint32_t kUnknownTypes = UINT32_MAX;
  // Sets pageDomainKey_ and pageSiteKey_.
  void derivePageKeys() const;
  // The same, inline in deriveParty(), which most often derives the keys:
  // a page without a dot is settled there, others by findHostKeys().
  void findPageKeys() const;
  void findHostKeys() const;
  // Sets firstParty_.
  void deriveParty() const;

  std::string_view url_;                       // the request URL
  std::string_view pageUrl_;                   // the page URL, possibly empty
  std::string_view urlHost_;                   // url's host, or empty
  mutable std::string_view pageDomainKey_;     // domain key of the page URL
  mutable std::string_view pageSiteKey_;       // site key of the page URL
  mutable bool pageKeysKnown_ = false;         // the two keys are set
  mutable int8_t firstParty_ = -1;             // -1 until computed, then 0 or 1
  mutable uint32_t urlTypes_ = kUnknownTypes;  // content types of the suffix
};

}  // namespace quibex

#endif  // QUIBEX_FILTERS_REQUEST_FACTS_H_
