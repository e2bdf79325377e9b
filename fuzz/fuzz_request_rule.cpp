// One request rule line parsed and matched against a URL and a page URL:
// the text round-trips, both parse paths agree, and the matcher that shares
// request facts agrees with the plain one, and so do the facts themselves.
// Input: rule \n url \n page.
#include "filters/domain_key.h"
#include "filters/request_facts.h"
#include "filters/request_filter.h"
#include "filters/rule_arena.h"
#include "filters/wildcard.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quibex;
  const std::vector<std::string> in = fuzz::fields(data, size, 3);
  const std::string& line = in[0];
  const std::string& url = in[1];
  const std::string& page = in[2];

  // The page's keys found together agree with each found on its own.
  {
    const RequestFacts facts(url, page);
    QUIBEX_FUZZ_CHECK(facts.pageDomainKey() == domainKeyView(page));
    QUIBEX_FUZZ_CHECK(facts.firstParty() == isFirstParty(url, page));
  }

  std::unique_ptr<RequestFilter> filter = parseRequestFilter(line);
  RuleArena arena;
  RequestFilter* placed = parseRequestFilter(line, arena);
  QUIBEX_FUZZ_CHECK((filter == nullptr) == (placed == nullptr));
  QUIBEX_FUZZ_CHECK((filter == nullptr) == (!line.empty() && line[0] == '!'));
  if (filter == nullptr) return 0;

  QUIBEX_FUZZ_CHECK(filter->text() == line);
  QUIBEX_FUZZ_CHECK(placed->text() == line);
  QUIBEX_FUZZ_CHECK(filter->pattern() == placed->pattern());
  QUIBEX_FUZZ_CHECK(filter->domainKeyView() ==
                    domainKeyView(filter->pattern()));
  const std::string_view key = filter->domainKeyView();
  QUIBEX_FUZZ_CHECK(key.empty() || (key.find('.') != std::string_view::npos &&
                                    key.front() != '.' && key.back() != '.'));

  const bool plain = filter->matches(url, page);
  const RequestFacts facts(url, page);
  QUIBEX_FUZZ_CHECK(filter->matches(facts) == plain);
  QUIBEX_FUZZ_CHECK(placed->matches(facts) == plain);
  if (plain) QUIBEX_FUZZ_CHECK(wildcardMatch(url, filter->pattern()));
  placed->~RequestFilter();
  return 0;
}
