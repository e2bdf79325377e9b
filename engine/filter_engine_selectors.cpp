// The selector query of FilterEngineImpl: a page gets the selectors of the
// element-hiding rules filed under its domain candidates, in candidate
// order and filing order, repeats kept, unless an "elemhide" exception
// matches the document and switches hiding off.
#include <string>

#include "engine/filter_engine_impl.h"
#include "filters/request_facts.h"

namespace quibex {

std::vector<std::string> FilterEngineImpl::getSelectors(
    const std::string& pageAddress, const std::string& documentUrl,
    const std::string& referrerUrl) {
  std::vector<std::string> selectors;
  if (loading) return selectors;
  std::lock_guard<std::mutex> lock(mutex);
  collectSelectors(pageAddress, documentUrl, referrerUrl, nullptr, &selectors);
  return selectors;
}

SelectorExplanation FilterEngineImpl::explainSelectors(
    const std::string& pageAddress, const std::string& documentUrl,
    const std::string& referrerUrl) {
  std::lock_guard<std::mutex> lock(mutex);
  SelectorExplanation why;
  collectSelectors(pageAddress, documentUrl, referrerUrl, &why, nullptr);
  return why;
}

const RequestFilter* FilterEngineImpl::hasElemHideException(
    const std::string& url, const std::string& pageUrl) {
  std::string key;
  if (matchMode_ == MatchMode::kPlain) {
    return matchDomainMap(elemHideExceptionsByDomain, url, pageUrl, &key);
  }
  if (url.empty()) return nullptr;
  const std::string_view host = candidates_.locateAddress(url, domainRules_);
  const RequestFacts request(url, pageUrl, host);
  std::string_view placed;
  return matchDomainMap(elemHideExceptionsByDomain, candidates_, request,
                        &placed);
}

void FilterEngineImpl::collectSelectors(const std::string& pageAddress,
                                        const std::string& documentUrl,
                                        const std::string& referrerUrl,
                                        SelectorExplanation* why,
                                        std::vector<std::string>* selectors) {
  if (pageAddress.empty()) return;
  if (const RequestFilter* exception =
          hasElemHideException(documentUrl, referrerUrl)) {
    if (why != nullptr) {
      why->switchedOff = true;
      why->exceptionRule = exception->text();
      why->exception = exception;
    }
    return;
  }
  std::string_view hostWithPort;
  const std::string_view host = extractHostView(pageAddress, &hostWithPort);
  auto visit = [&](std::string_view candidate, uint64_t hash) {
    const uint32_t entry = elemHideByDomain.find(candidate, hash);
    if (entry == KeyedChains<const ElemHideFilter>::kNoEntry) return;
    for (const ElemHideFilter* rule : elemHideByDomain.chain(entry)) {
      if (!rule->isActiveOnHost(hostWithPort)) continue;
      const std::string_view selector = rule->getSelector();
      if (selectors != nullptr) selectors->emplace_back(selector);
      if (why != nullptr) {
        why->selectors.push_back(SelectorSource{
            std::string(selector), std::string(rule->text()), rule});
      }
    }
  };
  if (matchMode_ == MatchMode::kPlain) {
    for (const std::string& candidate : domainCandidates(host)) {
      visit(candidate, hashKey(candidate));
    }
  } else {
    candidates_.assign(host);
    candidates_.forEachCandidate(
        [&visit](std::string_view candidate, const char* /*where*/) {
          visit(candidate, hashKey(candidate));
        });
  }
}

}  // namespace quibex
