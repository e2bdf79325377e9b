// The facts about one request that the option tests of every rule need:
// the page's domain key, whether the request is first-party to the page,
// and which content types the request URL's suffix satisfies. The plain
// matcher derives them anew for every rule; a decision derives them once
// into a RequestFacts and shares it with every rule it tries.
#ifndef QUIBEX_FILTERS_REQUEST_FACTS_H_
#define QUIBEX_FILTERS_REQUEST_FACTS_H_

#include <cstddef>
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
// always does).
bool isFirstParty(std::string_view requestUrl, std::string_view pageUrl);

// The keys of one page that every request on it shares: its domain key and
// its site key, each derived on first use and kept while the page stays on
// the same origin. Requests come page by page, so most find their page's
// keys here. Both keys depend only on the page up to the first "/" after
// its scheme, so that origin is all that is kept of the page, never its
// path or query.
//
// Thread-safety: none; the engine mutex guards it.
class PageKeys {
 public:
  PageKeys() = default;
  PageKeys(const PageKeys&) = delete;
  PageKeys& operator=(const PageKeys&) = delete;

  // Makes pageUrl the page; the keys of the last page are kept when pageUrl
  // has the same origin.
  void setPage(std::string_view pageUrl);
  // domainKeyView(page), a view into this object.
  std::string_view domainKey() {
    if (domainKey_.size == kUnknownSize) domainKey_ = derive(true);
    return view(domainKey_);
  }
  // siteKeyView(page), a view into this object.
  std::string_view siteKey() {
    if (siteKey_.size == kUnknownSize) siteKey_ = derive(false);
    return view(siteKey_);
  }

 private:
  struct Span {
    size_t start;  // first byte in origin_
    size_t size;   // length, or kUnknownSize before the key is derived
  };
  static constexpr size_t kUnknownSize = SIZE_MAX;
  static constexpr Span kUnknown{0, kUnknownSize};
  Span derive(bool domain) const;
  std::string_view view(Span span) const {
    return std::string_view(origin_.data() + span.start, span.size);
  }

  // The page up to and including its first "/" after the scheme, or the
  // whole page when it has none.
  std::string origin_;
  size_t hostStart_ = 0;       // where the page's host starts
  bool known_ = false;         // origin_ holds a page
  bool endsAtSlash_ = false;   // origin_ ends at the page's first "/"
  Span domainKey_ = kUnknown;  // the domain key
  Span siteKey_ = kUnknown;    // the site key
};

// Facts of one request (request URL and page URL), each derived on first
// use: a request decided by a rule that asks for none of them pays for none.
// Given a PageKeys, the page's keys come from it, derived once per page.
//
// REQUIRES: the two strings, and page when given, outlive the object; it
// keeps views of them.
// Thread-safety: not thread-safe (every fact is computed on first use).
class RequestFacts {
 public:
  RequestFacts(std::string_view url, std::string_view pageUrl)
      : url_(url), pageUrl_(pageUrl) {}
  // REQUIRES: page->setPage(pageUrl) was the last call of setPage().
  RequestFacts(std::string_view url, std::string_view pageUrl, PageKeys* page)
      : url_(url), pageUrl_(pageUrl), page_(page) {}
  RequestFacts(const RequestFacts&) = delete;
  RequestFacts& operator=(const RequestFacts&) = delete;

  std::string_view url() const { return url_; }
  std::string_view pageUrl() const { return pageUrl_; }
  // domainKey(pageUrl), a view into pageUrl.
  std::string_view pageDomainKey() const {
    if (!pageKeyKnown_) derivePageDomainKey();
    return pageDomainKey_;
  }
  // contentTypesOf(url).
  uint32_t urlTypes() const {
    if (urlTypes_ == kUnknownTypes) urlTypes_ = contentTypesOf(url_);
    return urlTypes_;
  }
  // isFirstParty(url, pageUrl).
  bool firstParty() const;

 private:
  static constexpr uint32_t kUnknownTypes = UINT32_MAX;
  void derivePageDomainKey() const;

  std::string_view url_;                     // the request URL
  std::string_view pageUrl_;                 // the page URL, possibly empty
  PageKeys* page_ = nullptr;                 // keys of pageUrl_, or null
  mutable std::string_view pageDomainKey_;   // domain key of the page URL
  mutable bool pageKeyKnown_ = false;        // pageDomainKey_ is set
  mutable int8_t firstParty_ = -1;           // -1 until computed, then 0 or 1
  mutable uint32_t urlTypes_ = kUnknownTypes;  // content types of the suffix
};

}  // namespace quibex

#endif  // QUIBEX_FILTERS_REQUEST_FACTS_H_
