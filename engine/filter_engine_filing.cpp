// Filing of FilterEngineImpl: request rules into the container that
// containerFor() chooses (by list, exception flag, elemhide option and
// domain key), element-hiding rules under each of their included sites.
#include "engine/filter_engine_impl.h"

namespace quibex {

void FilterEngineImpl::addRequestFilter(RequestFilter* filter, int listIndex) {
  try {
    requestFilters.push_back(filter);
  } catch (...) {
    filter->~RequestFilter();  // its storage stays in the arena
    throw;
  }
  // Filing either succeeds or changes nothing; if it fails the rule is
  // dropped whole rather than kept unfiled.
  try {
    fileRequestFilter(static_cast<uint32_t>(requestFilters.size() - 1),
                      listIndex != 0);
  } catch (...) {
    requestFilters.pop_back();
    filter->~RequestFilter();
    throw;
  }
  indexStale_ = true;
}

void FilterEngineImpl::fileRequestFilter(uint32_t id, bool list1) {
  const RequestFilter* rule = requestFilters[id];
  const RequestContainer& container = containerFor(*rule, list1 ? 1 : 0);
  if (container.keyed) {
    mapOf(container).insertFilter(rule->domainKeyView(), id);
  } else {
    sequenceOf(container).push_back(rule);
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
    elemHideByDomain.append(rule->includeDomain(i), rule);
  }
}

}  // namespace quibex
