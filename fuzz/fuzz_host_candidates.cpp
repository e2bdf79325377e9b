// Host extraction and domain candidates of any address: the string and
// view forms agree, and the allocation-free candidate list equals the plain
// enumeration.
#include "engine/host_candidates.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quibex;
  const std::string address(reinterpret_cast<const char*>(data), size);
  std::string withPort;
  const std::string host = extractHost(address, &withPort);
  std::string_view viewWithPort;
  QUIBEX_FUZZ_CHECK(extractHostView(address, &viewWithPort) == host);
  QUIBEX_FUZZ_CHECK(viewWithPort == withPort);
  QUIBEX_FUZZ_CHECK(withPort.compare(0, host.size(), host) == 0);

  const std::vector<std::string> plain = domainCandidates(host);
  CandidateList list;
  list.assign(host);
  QUIBEX_FUZZ_CHECK(list.size() == plain.size());
  size_t i = 0;
  list.forEachCandidate([&](std::string_view text, const char*) {
    QUIBEX_FUZZ_CHECK(i < plain.size() && text == plain[i]);
    QUIBEX_FUZZ_CHECK(plain[i].find('.') != std::string::npos);
    ++i;
  });
  return 0;
}
