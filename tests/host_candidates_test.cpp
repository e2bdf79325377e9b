// Host extraction and domain candidates, and the allocation-free candidate
// list against the plain enumeration.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine/domain_rule_table.h"
#include "engine/host_candidates.h"
#include "filters/rule_arena.h"

namespace quibex {
namespace {

using Strings = std::vector<std::string>;

struct HostCase {
  std::string address;
  std::string hostWithPort;
  std::string host;
  Strings candidates;
};

class HostTest : public ::testing::TestWithParam<HostCase> {};

Strings listed(const CandidateList& list) {
  Strings out;
  list.forEachCandidate(
      [&out](std::string_view text, const char*) { out.emplace_back(text); });
  return out;
}

TEST_P(HostTest, HostAndCandidates) {
  const HostCase& c = GetParam();
  std::string withPort = "stale";
  const std::string host = extractHost(c.address, &withPort);
  EXPECT_EQ(withPort, c.hostWithPort);
  EXPECT_EQ(host, c.host);
  EXPECT_EQ(domainCandidates(host), c.candidates);
  CandidateList list;
  list.assign(host);
  EXPECT_EQ(listed(list), c.candidates);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, HostTest,
    ::testing::Values(
        HostCase{"x://a.b.c:8080/p?q=1",
                 "a.b.c:8080",
                 "a.b.c",
                 {"b.c", "a.b", "a.b.c"}},
        HostCase{"x://a.b", "a.b", "a.b", {"a.b"}},
        HostCase{"a.b/c/d.js", "a.b", "a.b", {"a.b"}},
        HostCase{"//a.b/c", "", "", {}}, HostCase{"x://a", "a", "a", {}},
        HostCase{"x://a.b?u=c/d", "a.b?u=c", "a.b?u=c", {"a.b?u=c"}},
        HostCase{"c.html?next=x://a.b.d/e",
                 "a.b.d",
                 "a.b.d",
                 {"b.d", "a.b", "a.b.d"}},
        HostCase{"x://[::1]:8080/", "[::1]:8080", "[", {}},
        HostCase{"10.0.0.1",
                 "10.0.0.1",
                 "10.0.0.1",
                 {"0.1", "0.0", "0.0.1", "10.0", "10.0.0", "10.0.0.1"}},
        HostCase{"a.a.a", "a.a.a", "a.a.a", {"a.a", "a.a", "a.a.a"}},
        HostCase{"a..b", "a..b", "a..b", {"a.b"}},
        HostCase{"https://ab.cdefgh..ij.klmnopqrs.t/",
                 "ab.cdefgh..ij.klmnopqrs.t",
                 "ab.cdefgh..ij.klmnopqrs.t",
                 {"klmnopqrs.t", "ij.klmnopqrs", "ij.klmnopqrs.t", "cdefgh.ij",
                  "cdefgh.ij.klmnopqrs", "cdefgh.ij.klmnopqrs.t", "ab.cdefgh",
                  "ab.cdefgh.ij", "ab.cdefgh.ij.klmnopqrs",
                  "ab.cdefgh.ij.klmnopqrs.t"}},
        HostCase{"http://a.b/", "a.b", "a.b", {"a.b"}},
        HostCase{"https:/a.b/c://d.e/", "d.e", "d.e", {"d.e"}},
        HostCase{".a.b.", ".a.b.", ".a.b.", {"a.b"}},
        HostCase{"x://u:p@a.b/", "u:p@a.b", "u", {}},
        HostCase{"x://u.v:p@a.b/", "u.v:p@a.b", "u.v", {"u.v"}},
        HostCase{"", "", "", {}},
        HostCase{"a.b.c.d",
                 "a.b.c.d",
                 "a.b.c.d",
                 {"c.d", "b.c", "b.c.d", "a.b", "a.b.c", "a.b.c.d"}},
        HostCase{"x://a.b\\c.d/",
                 "a.b\\c.d",
                 "a.b\\c.d",
                 {"b\\c.d", "a.b\\c", "a.b\\c.d"}}));

TEST(SplitTokensTest, DelimitersAndLimit) {
  EXPECT_EQ(splitTokens("..a...b..", "."), (Strings{"a", "b"}));
  EXPECT_EQ(splitTokens("a,b;c", ",;"), (Strings{"a", "b", "c"}));
  EXPECT_EQ(splitTokens("", "."), Strings{});
  // Only the first 128 bytes take part: a label running past byte 128 is
  // shortened there.
  const std::string host = std::string(126, 'x') + ".abcdef.gh";
  EXPECT_EQ(splitTokens(host, "."), (Strings{std::string(126, 'x'), "a"}));
  EXPECT_EQ(domainCandidates(host), (Strings{std::string(126, 'x') + ".a"}));
  CandidateList list;
  list.assign(host);
  EXPECT_EQ(listed(list), domainCandidates(host));
}

TEST(CandidateListTest, AgreesWithPlainEnumerationOnRandomHosts) {
  std::mt19937 rng(7);
  const std::string bytes = "ab..-:";
  CandidateList list;
  for (int round = 0; round < 20000; ++round) {
    std::string host(rng() % 140, ' ');
    for (char& c : host) c = bytes[rng() % bytes.size()];
    list.assign(host);
    ASSERT_EQ(listed(list), domainCandidates(host)) << host;
    const bool isHost = extractHostView(host, nullptr) == host;
    list.forEachCandidate([isHost](std::string_view text, const char* where) {
      ASSERT_TRUE(!isHost || isDomainCandidate(text)) << text;
      if (where != nullptr) {
        ASSERT_EQ(std::string_view(where, text.size()), text);
      }
    });
  }
}

// Where each candidate stands in the host, null for none.
std::vector<const char*> places(const CandidateList& list) {
  std::vector<const char*> out;
  list.forEachCandidate(
      [&out](std::string_view, const char* where) { out.push_back(where); });
  return out;
}

TEST(CandidateListTest, PlaceInHostOnlyWithoutDroppedLabels) {
  CandidateList list;
  const std::string_view host = "a..b.c";
  list.assign(host);
  ASSERT_EQ(listed(list), (Strings{"b.c", "a.b", "a.b.c"}));
  EXPECT_EQ(places(list),
            (std::vector<const char*>{host.data() + 3, nullptr, nullptr}));
  const std::string_view dotted = ".x.y";
  list.assign(dotted);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(places(list), std::vector<const char*>{dotted.data() + 1});
}

// assignAddress(), one pass over the address where it can, gives the host
// and the candidates (texts and places) of extractHostView() and assign():
// short and long addresses, hosts around the split's 128 bytes, empty
// labels, ports, "@" and schemes other than the common two.
TEST(CandidateListTest, AddressPassAgreesWithHostThenSplit) {
  std::mt19937 rng(11);
  const char* const schemes[] = {"https://", "http://", "x://", "", "http:/"};
  const std::string withStops = "aaaab..:/@?";
  const std::string withoutStops = "aaaaaaab.";
  CandidateList fused;
  CandidateList plain;
  for (int round = 0; round < 40000; ++round) {
    std::string address = schemes[rng() % 5];
    const std::string& bytes = rng() % 2 ? withStops : withoutStops;
    const size_t length = rng() % 4 == 0 ? rng() % 24 : 100 + rng() % 60;
    for (size_t i = 0; i < length; ++i) address += bytes[rng() % bytes.size()];
    const std::string_view host = fused.assignAddress(address);
    const std::string_view expected = extractHostView(address, nullptr);
    ASSERT_EQ(host.data(), expected.data()) << address;
    ASSERT_EQ(host, expected) << address;
    plain.assign(expected);
    ASSERT_EQ(listed(fused), listed(plain)) << address;
    ASSERT_EQ(places(fused), places(plain)) << address;
  }
}

// locate() keeps the candidates the table holds, in candidate order, each
// key once, with the lanes of its rules and its place in the host.
TEST(CandidateListTest, LocatesTheKeysTheTableHolds) {
  RuleArena arena;
  DomainRuleTable table(&arena);
  const struct {
    const char* rule;
    uint32_t lane;
  } filed[] = {{"||b.c^", 1}, {"||a.b.c^", 0}, {"||a.b.c^", 3}, {"||a.a^", 2}};
  for (const auto& f : filed) {
    const RequestFilter* rule = parseRequestFilter(f.rule, arena);
    table.insert(rule->domainKeyView(), hashKey(rule->domainKeyView()), f.lane,
                 rule);
  }
  // A located candidate: its text, its lanes and its place in the host
  // (-1 for none).
  using Located = std::tuple<std::string, uint32_t, int>;
  const struct {
    std::string host;
    std::vector<Located> located;
    uint32_t lanes;
  } cases[] = {
      {"a.b.c", {{"b.c", 2u, 2}, {"a.b.c", 9u, 0}}, 11u},
      {"x.a.b.c", {{"b.c", 2u, 4}, {"a.b.c", 9u, 2}}, 11u},
      {"a.a.a", {{"a.a", 4u, 2}}, 4u},  // a.a twice, located once
      {"a..b.c", {{"b.c", 2u, 3}, {"a.b.c", 9u, -1}}, 11u},
      {"c.b.a", {}, 0u},
      {"c", {}, 0u},
  };
  CandidateList list;
  // The located candidates of list, places counted from host.
  const auto locatedIn = [&](const char* host) {
    std::vector<Located> located;
    for (const CandidateList::Located& l : list) {
      EXPECT_EQ(table.keyOf(l.entry), l.text);
      const char* where = l.place.where();
      located.emplace_back(
          std::string(l.text), l.lanes,
          where == nullptr ? -1 : static_cast<int>(where - host));
    }
    return located;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    list.assign(c.host);
    list.locate(table);
    EXPECT_EQ(locatedIn(c.host.data()), c.located);
    EXPECT_EQ(list.lanes(), c.lanes);
    // The same from an address, found by the one pass or the general one.
    const std::string address = "https://" + c.host + "/p";
    EXPECT_EQ(list.locateAddress(address, table), c.host);
    EXPECT_EQ(locatedIn(address.data() + 8), c.located);
    EXPECT_EQ(list.lanes(), c.lanes);
  }
}

TEST(IsDomainCandidateTest, OnlyRunsOfTwoOrMoreLabels) {
  const std::string longest = std::string(126, 'x') + ".y";
  const struct {
    std::string text;
    bool candidate;
  } cases[] = {
      {"a.b", true},          {"a.b.c", true},    {longest, true},
      {longest + "z", false}, {"", false},        {"a", false},
      {"a..b", false},        {".a.b", false},    {"a.b.", false},
      {"a.b:80", false},      {"x://a.b", false}, {"a.b/c", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isDomainCandidate(c.text), c.candidate) << c.text;
  }
}

TEST(CandidateListTest, SixtyFourLabels) {
  std::string host;
  for (int i = 0; i < 64; ++i) host += i == 0 ? "a" : ".a";
  ASSERT_EQ(host.size(), 127u);
  CandidateList list;
  list.assign(host);
  EXPECT_EQ(list.size(), 64u * 63u / 2u);
  EXPECT_EQ(listed(list), domainCandidates(host));
}

}  // namespace
}  // namespace quibex
