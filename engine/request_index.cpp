// Filing of request rules into the engine's nine containers: by list, by
// exception flag and elemhide option, under the domain key or in a generic
// sequence.
#include "engine/filter_engine_impl.h"

namespace quibex {

void FilterEngineImpl::addRequestFilter(RequestFilter* filter, int listIndex) {
  const RequestFilter* rule = filter;
  try {
    requestFilters.push_back(filter);
  } catch (...) {
    filter->~RequestFilter();  // its storage stays in the arena
    throw;
  }
  // Filing either succeeds or changes nothing; if it fails the rule is
  // dropped whole rather than kept unfiled.
  try {
    fileRequestFilter(rule, listIndex != 0);
  } catch (...) {
    requestFilters.pop_back();
    filter->~RequestFilter();
    throw;
  }
  indexStale_ = true;
}

void FilterEngineImpl::fileRequestFilter(const RequestFilter* rule,
                                         bool list1) {
  const RequestContainer& container = containerFor(*rule, list1 ? 1 : 0);
  if (container.keyed) {
    mapOf(container).insertFilter(rule->domainKeyView(), rule);
  } else {
    sequenceOf(container).push_back(rule);
  }
}

}  // namespace quibex
