// Filing of FilterEngineImpl: request rules into the container that
// containerFor() chooses (by list, exception flag, elemhide option and
// domain key), element-hiding rules under each of their included sites.
#include <algorithm>

#include "engine/filter_engine_impl.h"
#include "engine/log.h"

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
  const std::string_view key = rule->domainKeyView();
  const RequestContainer& container = containerFor(*rule, key, list1 ? 1 : 0);
  if (container.keyed && stageKeyedRules_) {
    domainRules_.stage(hashKey(key), mapOf(container).lane(), rule);
  } else if (container.keyed) {
    mapOf(container).insertFilter(key, rule);
  } else {
    sequenceOf(container).push_back(rule);
  }
}

void FilterEngineImpl::fileStagedRules() {
  const size_t dropped = domainRules_.fileStaged();
  // A dropped rule was counted when it was staged; it is not in force.
  requestRules_ -= std::min(dropped, requestRules_);
  if (dropped != 0) {
    logMessage(LogPriority::kError,
               "out of memory: %zu domain-keyed request rules dropped",
               dropped);
  }
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
