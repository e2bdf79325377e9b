// Filing of FilterEngineImpl: request rules into the container that
// containerFor() chooses (by list, exception flag, elemhide option and
// domain key), element-hiding rules under each of their included sites.
#include "engine/filter_engine_impl.h"

namespace quibex {

void FilterEngineImpl::addRequestFilter(RequestFilter* filter, int listIndex) {
  // The arena holds the rule; only a rule with heap parts of its own is
  // listed, to be destroyed when the rules are cleared.
  const bool listed = filter->ownsHeapParts();
  try {
    if (listed) requestFilters.push_back(filter);
  } catch (...) {
    filter->~RequestFilter();  // its storage stays in the arena
    throw;
  }
  // Filing either succeeds or changes nothing; if it fails the rule is
  // dropped whole rather than kept unfiled.
  try {
    fileRequestFilter(filter, listIndex != 0);
  } catch (...) {
    if (listed) requestFilters.pop_back();
    filter->~RequestFilter();
    throw;
  }
  ++requestRules_;
  lastRequestRule_ = filter;
  indexStale_ = true;
}

void FilterEngineImpl::fileRequestFilter(const RequestFilter* rule,
                                         bool list1) {
  const RequestContainer& container = containerFor(*rule, list1 ? 1 : 0);
  if (container.keyed && holdKeyedRules_) {
    const std::string_view key = rule->domainKeyView();
    const uint64_t hash = hashKey(key);
    fileHeldRule();
    domainRules_.reserveInsert();
    domainRules_.prefetchInsert(hash);
    heldRule_ = HeldRule{rule, key, hash, mapOf(container).lane()};
  } else if (container.keyed) {
    mapOf(container).insertFilter(rule->domainKeyView(), rule);
  } else {
    sequenceOf(container).push_back(rule);
  }
}

void FilterEngineImpl::fileHeldRule() {
  if (heldRule_.rule == nullptr) return;
  domainRules_.insert(heldRule_.key, heldRule_.hash, heldRule_.lane,
                      heldRule_.rule);
  heldRule_.rule = nullptr;
}

void FilterEngineImpl::addElemHideFilter(ElemHideFilter* filter) {
  if (filter == nullptr) return;
  const ElemHideFilter* rule = filter;
  // Room first, so that a filter is filed under all of its sites or, when
  // memory runs out, under none.
  elemHideByDomain.reserveMore(rule->includeCount(), rule->includeCount());
  elemHideFilters.push_back(filter);
  for (size_t i = 0; i < rule->includeCount(); ++i) {
    const std::string_view site = rule->includeDomain(i);
    elemHideByDomain.appendReserved(site, hashKey(site), rule);
  }
}

}  // namespace quibex
