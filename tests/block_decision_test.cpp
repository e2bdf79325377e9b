// The block decision end to end from rule files: list 1 before list 0,
// exceptions before blocking rules, domain-keyed before generic, repeated
// candidates tried once; in both match modes.
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace quibex {
namespace {

using testing::LoadedEngine;

struct DecisionCase {
  std::string first;   // rules of the first file
  std::string second;  // rules of the second file
  std::string url;
  std::string page;
  int blocked;
  DecisionStep step;
};

class DecisionTest
    : public ::testing::TestWithParam<std::tuple<DecisionCase, MatchMode>> {};

TEST_P(DecisionTest, AnswerAndDecidingContainer) {
  const DecisionCase& c = std::get<0>(GetParam());
  LoadedEngine e(c.first, c.second, std::get<1>(GetParam()));
  EXPECT_EQ(e.block(c.url, c.page), c.blocked)
      << c.first << " | " << c.second << " | " << c.url;
  EXPECT_EQ(e->explainBlock(c.url, c.page).step, c.step);
}

const DecisionCase kDecisionCases[] = {
    // The second file decides before the first.
    {"", "@@/ads/\n/ads/", "http://x/ads/", "", 0, DecisionStep::kExceptions1},
    {"@@/ads/", "/ads/", "http://x/ads/", "", 1, DecisionStep::kBlocking1},
    {"@@/ads/\n/ads/", "", "http://x/ads/", "", 0, DecisionStep::kExceptions0},
    {"/ads/", "", "http://x/ads/", "", 1, DecisionStep::kBlocking0},
    {"@@||a.b^", "||a.b^", "http://a.b/", "", 1,
     DecisionStep::kBlockingByDomain1},
    {"||a.b^", "@@/x", "http://a.b/x", "", 0, DecisionStep::kExceptions1},
    // Within a list: domain-keyed exception, generic exception, domain-keyed
    // blocking rule, generic blocking rule.
    {"", "@@||a.b^\n/p", "http://a.b/p", "", 0,
     DecisionStep::kExceptionsByDomain1},
    {"", "||a.b^\n@@/p", "http://a.b/p", "", 0, DecisionStep::kExceptions1},
    {"", "/p\n||a.b^", "http://a.b/p", "", 1, DecisionStep::kBlockingByDomain1},
    {"@@||a.b^\n/p", "", "http://a.b/p", "", 0,
     DecisionStep::kExceptionsByDomain0},
    {"||a.b^\n@@/p", "", "http://a.b/p", "", 0, DecisionStep::kExceptions0},
    {"/p\n||a.b^", "", "http://a.b/p", "", 1, DecisionStep::kBlockingByDomain0},
    // Nothing matches.
    {"||a.b^", "", "http://c.d/", "", 0, DecisionStep::kNone},
    // A one-label or empty host is judged by the generic rules only.
    {"||localhost^\n/ads", "", "http://localhost/ads", "", 1,
     DecisionStep::kBlocking0},
    {"||a.b^", "", "http://localhost/?u=a.b", "", 0, DecisionStep::kNone},
    {"||a.b^", "", "http://x.y/?u=a.b", "", 0, DecisionStep::kNone},
    {"||a.b^", "", "http://a.b.x.y/?u=a.b", "", 1,
     DecisionStep::kBlockingByDomain0},
    {"$script", "", "", "", 0, DecisionStep::kNone},
    {"|", "", "", "", 1, DecisionStep::kBlocking0},
    // Repeated candidates (x.x.x yields x.x twice) try the chain once.
    {"||x.x^$domain=a.b", "", "http://x.x.x/", "http://q.a.b/", 1,
     DecisionStep::kBlockingByDomain0},
    {"||x.x^$domain=a.b", "", "http://x.x.x/", "", 0, DecisionStep::kNone},
    // An elemhide exception with a key never lets a request through.
    {"||a.b^\n@@||a.b^$elemhide", "", "http://a.b/", "", 1,
     DecisionStep::kBlockingByDomain0},
    // An elemhide exception without a key is an ordinary exception.
    {"||a.b^\n@@/x$elemhide", "", "http://a.b/x", "", 0,
     DecisionStep::kExceptions0},
    // Options need the page.
    {"/t$third-party", "", "http://c.d/t", "", 0, DecisionStep::kNone},
    {"/t$third-party", "", "http://c.d/t", "http://a.b/", 1,
     DecisionStep::kBlocking0},
    {"/t$domain=a.b", "", "http://c.d/t", "", 0, DecisionStep::kNone},
    {"/t$domain=a.b", "", "http://c.d/t", "http://s.a.b/", 1,
     DecisionStep::kBlocking0},
    // A rule is found under every candidate of the host.
    {"||b.c.d^", "", "http://a.b.c.d/", "", 1,
     DecisionStep::kBlockingByDomain0},
    {"||b.c^", "", "http://a.b.c.d/", "", 0, DecisionStep::kNone},
    {"||a.b.c.d^", "", "http://a.b.c.d:80/", "", 1,
     DecisionStep::kBlockingByDomain0},
};

INSTANTIATE_TEST_SUITE_P(
    Cases, DecisionTest,
    ::testing::Combine(::testing::ValuesIn(kDecisionCases),
                       ::testing::Values(MatchMode::kAccelerated,
                                         MatchMode::kPlain)));

TEST(DecisionTest, EmptyRuleSetBlocksNothing) {
  LoadedEngine e("", "");
  EXPECT_EQ(e.block("http://a.b/ads.js", "http://a.b/"), 0);
  EXPECT_EQ(e.block("", ""), 0);
}

}  // namespace
}  // namespace quibex
