// Filing of request rules into the nine containers, observed through the
// engine's container counts and the container that decides a request.
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace quibex {
namespace {

using testing::LoadedEngine;

struct FilingCase {
  std::string rule;
  int list;  // 0: first file, 1: second file
  std::string url;
  DecisionStep step;  // the container that decides url
  std::string key;
};

class FilingTest : public ::testing::TestWithParam<FilingCase> {};

TEST_P(FilingTest, RuleLandsInItsContainer) {
  const FilingCase& c = GetParam();
  LoadedEngine e(c.list == 0 ? c.rule : "", c.list == 0 ? "" : c.rule);
  const BlockExplanation why = e->explainBlock(c.url, "");
  EXPECT_EQ(why.step, c.step) << c.rule;
  EXPECT_EQ(why.key, c.key);
  if (c.step != DecisionStep::kNone) {
    EXPECT_EQ(why.ruleText, c.rule);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FilingTest,
    ::testing::Values(
        FilingCase{"||a.b^", 0, "http://a.b/", DecisionStep::kBlockingByDomain0,
                   "a.b"},
        FilingCase{"@@||a.b^", 1, "http://a.b/",
                   DecisionStep::kExceptionsByDomain1, "a.b"},
        // An elemhide exception with a key never takes part in blocking.
        FilingCase{"@@||a.b^$elemhide", 0, "http://a.b/", DecisionStep::kNone,
                   ""},
        FilingCase{"@@||a.b^$elemhide", 1, "http://a.b/", DecisionStep::kNone,
                   ""},
        // Without a key it is an ordinary exception of its list.
        FilingCase{"@@/ads/$elemhide", 1, "http://x/ads/",
                   DecisionStep::kExceptions1, ""},
        FilingCase{"||a.b^$elemhide", 0, "http://a.b/",
                   DecisionStep::kBlockingByDomain0, "a.b"},
        FilingCase{"/ads/$domain=a.b", 0, "http://x/ads/", DecisionStep::kNone,
                   ""},
        FilingCase{"/ads/", 1, "http://x/ads/", DecisionStep::kBlocking1, ""},
        FilingCase{"@@/ads/", 0, "http://x/ads/", DecisionStep::kExceptions0,
                   ""},
        // A key keeps the rule's case; lookups are byte for byte.
        FilingCase{"||A.b^", 0, "http://a.b/", DecisionStep::kNone, ""},
        FilingCase{"||A.b^", 0, "http://A.b/", DecisionStep::kBlockingByDomain0,
                   "A.b"},
        // A key with a port is never a candidate of any host.
        FilingCase{"||a.b:8080^", 0, "http://a.b:8080/", DecisionStep::kNone,
                   ""}));

TEST(FilingTest, CountsPerContainerAndListIndex) {
  LoadedEngine e(
      "||a.b^\n@@||a.b^\n/x/\n@@/y/\n@@||c.d^$elemhide\n! comment\n"
      "a.com##.ad\n##.generic\n",
      "||e.f^\n/z/\n@@||g.h^$elemhide\n");
  const EngineStats s = e->stats();
  EXPECT_EQ(s.requestRules, 8u);
  EXPECT_EQ(s.rulesIn(DecisionStep::kBlockingByDomain0), 1u);
  EXPECT_EQ(s.rulesIn(DecisionStep::kExceptionsByDomain0), 1u);
  EXPECT_EQ(s.rulesIn(DecisionStep::kBlocking0), 1u);
  EXPECT_EQ(s.rulesIn(DecisionStep::kExceptions0), 1u);
  EXPECT_EQ(s.rulesIn(DecisionStep::kBlockingByDomain1), 1u);
  EXPECT_EQ(s.rulesIn(DecisionStep::kBlocking1), 1u);
  EXPECT_EQ(s.rulesIn(DecisionStep::kElemHideExceptionsByDomain), 2u);
  EXPECT_EQ(s.elemHideRules, 1u);
}

TEST(FilingTest, AnyNonZeroListIndexIsTheSecondList) {
  LoadedEngine e("", "");
  e->addRuleLine("/ads/", 5);
  e->addRuleLine("@@||a.b^", -1);
  EXPECT_EQ(e->explainBlock("http://x/ads/", "").step,
            DecisionStep::kBlocking1);
  EXPECT_EQ(e->explainBlock("http://a.b/", "").step,
            DecisionStep::kExceptionsByDomain1);
}

TEST(FilingTest, ChainsKeepLoadingOrderAcrossFiles) {
  // The first rule filed under a key is tried first: with two exceptions
  // under one key the explanation names the first file's rule.
  LoadedEngine e("@@||a.b^$elemhide,domain=x.y\n", "@@||a.b^$elemhide\n");
  const SelectorExplanation why = e->explainSelectors("a.b", "http://a.b/", "");
  EXPECT_TRUE(why.switchedOff);
  EXPECT_EQ(why.exceptionRule, "@@||a.b^$elemhide");
  const SelectorExplanation first =
      e->explainSelectors("a.b", "http://a.b/", "http://x.y/");
  EXPECT_EQ(first.exceptionRule, "@@||a.b^$elemhide,domain=x.y");
}

}  // namespace
}  // namespace quibex
