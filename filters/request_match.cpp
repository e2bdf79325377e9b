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
  const DomainLists* domains = this->domains();
  if (domains == nullptr) return true;
  const DomainLists& lists = *domains;
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
  if (domains() == nullptr) return true;
  return matchesDomainKey(quibex::domainKeyView(pageUrl));
}

bool RequestFilter::matchesThirdParty(std::string_view requestUrl,
                                      std::string_view pageUrl) const {
  if ((flags_ & kPartyBits) == 0) return true;
  if (pageUrl.empty()) return false;
  return passesParty(isFirstParty(requestUrl, pageUrl));
}

bool RequestFilter::matchesContentType(std::string_view requestUrl) const {
  const uint32_t mask = typeMask();
  if (mask == 0) return true;
  return (mask & contentTypesOf(requestUrl)) != 0;
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
  if (!(flags_ & kHasOptions)) return wildcardMatch(request.url(), pattern());
  const Options& more = options();
  if (more.typeMask != 0 && (more.typeMask & request.urlTypes()) == 0) {
    return false;
  }
  if (!more.domains) return wildcardMatch(request.url(), pattern());
  const size_t names =
      more.domains->include.size() + more.domains->exclude.size();
  if (names <= kShortDomainList) {
    return matchesDomainKey(request.pageDomainKey()) &&
           wildcardMatch(request.url(), pattern());
  }
  return wildcardMatch(request.url(), pattern()) &&
         matchesDomainKey(request.pageDomainKey());
}

}  // namespace quibex
