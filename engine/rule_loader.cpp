// Reading one rule file through the line decoder, and routing each plain
// rule line to the element-hiding or the request parser.
#include <string>

#include "engine/filter_engine_impl.h"
#include "engine/line_decoder.h"
#include "engine/rule_file_reader.h"

namespace quibex {

void FilterEngineImpl::loadRuleFile(const std::string& path, int listIndex) {
  UniqueFile file(std::fopen(path.c_str(), "r"));
  if (!file) return;
  RuleFileReader reader(file.get());
  std::string stored;  // the stored (enciphered) line, reused for each line
  FilterEngine& self = *this;
  decoder_.beginFile();
  while (reader.next(stored)) {
    if (!decoder_.decryptLine(stored, lineBuffer_)) continue;
    if (!lineBuffer_.empty()) self.addRuleLine(lineBuffer_, listIndex);
  }
  decoder_.endFile();
}

void FilterEngineImpl::addRuleLine(const std::string& line, int listIndex) {
  // A line with "##" anywhere is an element-hiding rule; if that parser
  // rejects it, it is dropped and never read as a request rule.
  if (line.find("##") != std::string::npos) {
    addElemHideFilter(ElemHideFilter::fromText(line, arena_));
    return;
  }
  RequestFilter* filter = parseRequestFilter(line, arena_);
  if (filter != nullptr) addRequestFilter(filter, listIndex);
}

}  // namespace quibex
