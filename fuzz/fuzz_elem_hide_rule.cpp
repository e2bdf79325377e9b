// One element-hiding line parsed and tested against a host: acceptance,
// the round trip of its text, and the domain test against its definition.
// Input: rule \n host.
#include "filters/elem_hide_filter.h"
#include "filters/rule_arena.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quibex;
  const std::vector<std::string> in = fuzz::fields(data, size, 2);
  const std::string& line = in[0];
  const std::string& host = in[1];

  std::unique_ptr<ElemHideFilter> filter = ElemHideFilter::fromText(line);
  RuleArena arena;
  const ElemHideFilter* placed = ElemHideFilter::fromText(line, arena);
  const size_t hashes = line.find("##");
  const bool acceptable = !line.empty() && line[0] != '!' &&
                          hashes != std::string::npos && hashes > 0;
  QUIBEX_FUZZ_CHECK((filter != nullptr) == acceptable);
  QUIBEX_FUZZ_CHECK((placed != nullptr) == acceptable);
  if (filter == nullptr) return 0;

  QUIBEX_FUZZ_CHECK(filter->text() == line);
  QUIBEX_FUZZ_CHECK(filter->getSelector() ==
                    std::string_view(line).substr(hashes + 2));
  QUIBEX_FUZZ_CHECK(filter->includeCount() + filter->excludeCount() >= 1);
  QUIBEX_FUZZ_CHECK(filter->getIncludeDomains() == placed->getIncludeDomains());

  bool expected = false;
  bool excluded = false;
  for (size_t i = 0; i < filter->excludeCount(); ++i) {
    excluded |= host.find(filter->excludeDomain(i)) != std::string::npos;
  }
  for (const std::string& site : filter->getIncludeDomains()) {
    expected |= host.find(site) != std::string::npos;
  }
  QUIBEX_FUZZ_CHECK(filter->isActiveOnHost(host) == (expected && !excluded));
  QUIBEX_FUZZ_CHECK(placed->isActiveOnHost(host) == (expected && !excluded));
  return 0;
}
