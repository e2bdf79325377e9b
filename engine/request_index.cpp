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
  const std::string_view key = rule->domainKeyView();
  if (!key.empty()) {
    DomainFilterMap& map =
        !rule->isException() ? (list1 ? blockingByDomain1 : blockingByDomain0)
        : rule->elemHide()   ? elemHideExceptionsByDomain
                             : (list1 ? exceptionsByDomain1 : exceptionsByDomain0);
    map.insertFilter(key, rule);
    return;
  }
  GenericSequence& sequence = rule->isException()
                                  ? (list1 ? exceptions1 : exceptions0)
                                  : (list1 ? blocking1 : blocking0);
  sequence.push_back(rule);
}

}  // namespace quibex
