// Host extraction and domain candidates of any address: the string and
// view forms agree, and the allocation-free candidate list, from the host
// or from the address in one pass, equals the plain enumeration.
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

  // The one pass over the address gives the same host and candidates.
  CandidateList fused;
  const std::string_view fusedHost = fused.assignAddress(address);
  QUIBEX_FUZZ_CHECK(fusedHost == host);
  QUIBEX_FUZZ_CHECK(fused.size() == plain.size());
  i = 0;
  fused.forEachCandidate([&](std::string_view text, const char* where) {
    QUIBEX_FUZZ_CHECK(i < plain.size() && text == plain[i]);
    QUIBEX_FUZZ_CHECK(where == nullptr ||
                      std::string_view(where, text.size()) == text);
    ++i;
  });
  return 0;
}
