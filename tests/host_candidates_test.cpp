// Host extraction and domain candidates, and the allocation-free candidate
// list against the plain enumeration.
#include <gtest/gtest.h>

#include <random>

#include "engine/host_candidates.h"

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
  for (const auto& c : list) out.emplace_back(c.text);
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
    for (const CandidateList::Candidate& c : list) {
      ASSERT_TRUE(!isHost || isDomainCandidate(c.text)) << c.text;
      if (c.place.where() != nullptr) {
        ASSERT_EQ(std::string_view(c.place.where(), c.text.size()), c.text);
      }
    }
  }
}

TEST(CandidateListTest, PlaceInHostOnlyWithoutDroppedLabels) {
  CandidateList list;
  const std::string_view host = "a..b.c";
  list.assign(host);
  ASSERT_EQ(listed(list), (Strings{"b.c", "a.b", "a.b.c"}));
  EXPECT_EQ(list[0].place.where(), host.data() + 3);
  EXPECT_EQ(list[1].place.where(), nullptr);
  EXPECT_EQ(list[2].place.where(), nullptr);
  const std::string_view dotted = ".x.y";
  list.assign(dotted);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].place.where(), dotted.data() + 1);
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
