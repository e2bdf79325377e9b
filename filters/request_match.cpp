// Matching one request against one RequestFilter: the page-domain test, the
// third-party test, the content-type test and the wildcard match, in that
// order, each failing fast.
#include "filters/request_facts.h"
#include "filters/request_filter.h"
#include "filters/rule_options.h"
#include "filters/text_util.h"
#include "filters/wildcard.h"

namespace quibex {
namespace {

// Domain lists up to this length are tested before the pattern.
constexpr size_t kShortDomainList = 4;

}  // namespace

// Page-domain test against an already derived domain key of the page.
bool RequestFilter::matchesDomainKey(std::string_view pageKey) const {
  if (!domains_) return true;
  const DomainLists& lists = *domains_;
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
  if (!domains_) return true;
  return matchesDomainKey(quibex::domainKeyView(pageUrl));
}

bool RequestFilter::matchesThirdParty(std::string_view requestUrl,
                                      std::string_view pageUrl) const {
  if ((flags_ & kPartyBits) == 0) return true;
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
  // The four tests form a conjunction, so they may run in any order: the
  // cheap ones first, and a long page-domain list after the pattern.
  if (flags_ & kPartyBits) {
    if (request.pageUrl().empty()) return false;
    if (!passesParty(request.firstParty())) return false;
  }
  if (typeMask_ != 0 && (typeMask_ & request.urlTypes()) == 0) return false;
  if (!domains_) return wildcardMatch(request.url(), pattern());
  const size_t names = domains_->include.size() + domains_->exclude.size();
  if (names <= kShortDomainList) {
    return matchesDomainKey(request.pageDomainKey()) &&
           wildcardMatch(request.url(), pattern());
  }
  return wildcardMatch(request.url(), pattern()) &&
         matchesDomainKey(request.pageDomainKey());
}

}  // namespace quibex
