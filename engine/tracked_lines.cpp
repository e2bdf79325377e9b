// Adding rule lines one at a time for a caller that needs to know which
// rule each line became (the quibex tool's reports name a rule by its file
// and line, which only the caller knows).
#include <string>

#include "engine/filter_engine_impl.h"

namespace quibex {

FiledRule FilterEngineImpl::addTrackedLine(const std::string& line,
                                           int listIndex) {
  std::lock_guard<std::mutex> lock(mutex);
  const size_t requestsBefore = requestFilters.size();
  const size_t elemHideBefore = elemHideFilters.size();
  // Through the interface, as the loader adds its lines. A line adds at
  // most one rule, at the end of its owning sequence.
  FilterEngine& self = *this;
  self.addRuleLine(line, listIndex);
  FiledRule filed;
  if (requestFilters.size() > requestsBefore) {
    filed.request = requestFilters.back();
  }
  if (elemHideFilters.size() > elemHideBefore) {
    filed.elemHide = elemHideFilters.back();
  }
  return filed;
}

void FilterEngineImpl::finishAddingLines() {
  std::lock_guard<std::mutex> lock(mutex);
  finishLoad();
}

}  // namespace quibex
