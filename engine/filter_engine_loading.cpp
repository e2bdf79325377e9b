// Loading of FilterEngineImpl: reading one rule file through the line
// decoder, and routing each plain rule line to its parser.
#include <new>
#include <string>

#include "engine/filter_engine_impl.h"
#include "engine/line_decoder.h"
#include "engine/rule_file_reader.h"
#include "filters/rule_line.h"

namespace quibex {

namespace {

// Brackets the decoding of one file: beginFile() when made, endFile() when
// it goes out of scope, however the file ends. The Java bridge's endFile
// detaches the loading thread from the VM, which must happen even when
// reading stops early: a native thread that ends while attached aborts the
// Android runtime.
class DecodedFile {
 public:
  explicit DecodedFile(LineDecoder& decoder) : decoder_(decoder) {
    decoder_.beginFile();
  }
  ~DecodedFile() { decoder_.endFile(); }
  DecodedFile(const DecodedFile&) = delete;
  DecodedFile& operator=(const DecodedFile&) = delete;

 private:
  LineDecoder& decoder_;  // the decoder whose file this is
};

}  // namespace

void FilterEngineImpl::loadRuleFile(const std::string& path, int listIndex) {
  try {
    UniqueFile file(std::fopen(path.c_str(), "r"));
    if (!file) return;
    RuleFileReader reader(file.get());
    std::string stored;  // the stored (enciphered) line, reused for each line
    FilterEngine& self = *this;
    const DecodedFile decoding(decoder_);
    while (reader.next(&stored)) {
      try {
        if (!decoder_.decryptLine(stored, &lineBuffer_)) continue;
        if (!lineBuffer_.empty()) self.addRuleLine(lineBuffer_, listIndex);
      } catch (const std::bad_alloc&) {
        // Out of memory on this line: drop it, as an unparsable line is
        // dropped, and go on with the next. Filing leaves no part of a
        // line behind.
      }
    }
  } catch (const std::bad_alloc&) {
    // Not even the file's read buffer could be had: the file is skipped,
    // like one that cannot be opened, and the load goes on.
  }
}

void FilterEngineImpl::addRuleLine(const std::string& line, int listIndex) {
  switch (routeRuleLine(line)) {
    case RuleLineKind::kComment:
      return;
    case RuleLineKind::kElemHide:
      addElemHideFilter(ElemHideFilter::fromText(line, arena_));
      return;
    case RuleLineKind::kRequest:
      if (RequestFilter* filter = parseRequestFilter(line, arena_)) {
        addRequestFilter(filter, listIndex);
      }
      return;
  }
}

}  // namespace quibex
