// The accelerated engine against the plain algorithm: the same rules (the
// input's lines up to an empty line, alternating between the two lists)
// and the same requests (the remaining lines, "url<TAB>page") must get the
// same answer from the same container, and the same selectors.
#include "engine/filter_engine_impl.h"
#include "engine/line_decoder.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quibex;
  PassThroughDecoder decoder;
  FilterEngineImpl fast(decoder,
                        EngineOptions{MatchMode::kAccelerated, nullptr});
  FilterEngineImpl plain(decoder, EngineOptions{MatchMode::kPlain, nullptr});

  std::string_view rest(reinterpret_cast<const char*>(data), size);
  bool rules = true;
  int list = 0;
  while (!rest.empty()) {
    size_t feed = rest.find('\n');
    if (feed == std::string_view::npos) feed = rest.size();
    const std::string line(rest.substr(0, feed));
    rest.remove_prefix(std::min(feed + 1, rest.size()));
    if (rules) {
      if (line.empty()) {
        rules = false;
        continue;
      }
      fast.addRuleLine(line, list);
      plain.addRuleLine(line, list);
      list ^= 1;
      continue;
    }
    const size_t tab = line.find('\t');
    const std::string url = line.substr(0, tab);
    const std::string page =
        tab == std::string::npos ? "" : line.substr(tab + 1);
    const BlockExplanation a = fast.explainBlock(url, page);
    const BlockExplanation b = plain.explainBlock(url, page);
    QUIBEX_FUZZ_CHECK(a.blocked == b.blocked);
    QUIBEX_FUZZ_CHECK(a.step == b.step);
    QUIBEX_FUZZ_CHECK(fast.shouldBlock(url, page) == a.blocked);
    QUIBEX_FUZZ_CHECK(fast.getSelectors(url, url, page) ==
                      plain.getSelectors(url, url, page));
  }
  return 0;
}
