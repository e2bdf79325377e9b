// Matching one request against one RequestFilter: the page-domain test, the
// third-party test, the content-type test and the wildcard match, in that
// order, each failing fast.
#include "filters/request_facts.h"
#include "filters/request_filter.h"
#include "filters/rule_options.h"
#include "filters/text_util.h"
#include "filters/wildcard.h"

namespace quibex {

// Page-domain test against an already derived domain key of the page.
bool RequestFilter::matchesDomainKey(std::string_view pageKey) const {
  if (!domains_) return true;
  const DomainLists& lists = *domains_;
  if (lists.include.empty() && lists.exclude.empty()) return true;
  if (pageKey.empty()) return false;
  for (const std::string& name : lists.exclude) {
    if (contains(pageKey, name)) return false;
  }
  for (const std::string& name : lists.include) {
    if (contains(pageKey, name)) return true;
  }
  return !lists.exclude.empty();
}

// Third-party test once the page is known to be non-empty.
bool RequestFilter::passesParty(bool firstParty) const {
  return firstParty ? (thirdParty_ & ~kThirdParty) != 0
                    : (thirdParty_ & kThirdParty) != 0;
}

bool RequestFilter::matchesDomain(std::string_view pageUrl) const {
  if (!domains_) return true;
  return matchesDomainKey(quibex::domainKeyView(pageUrl));
}

bool RequestFilter::matchesThirdParty(std::string_view requestUrl,
                                      std::string_view pageUrl) const {
  if (thirdParty_ == kThirdPartyNone) return true;
  if (pageUrl.empty()) return false;
  return passesParty(isFirstParty(requestUrl, pageUrl));
}

bool RequestFilter::matchesContentType(std::string_view requestUrl) const {
  if (typeMask_ == 0) return true;
  return (typeMask_ & contentTypesOf(requestUrl)) != 0;
}

bool RequestFilter::matches(std::string_view requestUrl,
                            std::string_view pageUrl) const {
  return matchesDomain(pageUrl) && matchesThirdParty(requestUrl, pageUrl) &&
         matchesContentType(requestUrl) &&
         wildcardMatch(requestUrl, pattern());
}

bool RequestFilter::matches(const RequestFacts& request) const {
  if (!matchesDomainKey(request.pageDomainKey())) return false;
  if (thirdParty_ != kThirdPartyNone) {
    if (request.pageUrl().empty()) return false;
    if (!passesParty(request.firstParty())) return false;
  }
  if (typeMask_ != 0 && (typeMask_ & request.urlTypes()) == 0) return false;
  return wildcardMatch(request.url(), pattern());
}

}  // namespace quibex
