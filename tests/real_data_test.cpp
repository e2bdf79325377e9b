// The engine on the real public lists: they load, real pages get the
// selectors their site-specific rules name, and the lists' other
// element-hiding syntaxes are routed by "##" like any other line.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/test_support.h"

namespace quibex {
namespace {

using Strings = std::vector<std::string>;

class RealListsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string first = testing::dataFile("easylist.txt");
    const std::string second = testing::dataFile("easyprivacy.txt");
    if (first.empty() || second.empty()) return;
    engine_ = testing::LoadedEngine::fromFiles(first, second).release();
  }
  static void TearDownTestSuite() {
    delete engine_;
    engine_ = nullptr;
  }
  void SetUp() override {
    if (engine_ == nullptr) GTEST_SKIP() << "shared data folder is absent";
  }
  static bool has(const Strings& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
  }
  static testing::LoadedEngine* engine_;
};

testing::LoadedEngine* RealListsTest::engine_ = nullptr;

TEST_F(RealListsTest, BothListsLoad) {
  const EngineStats s = engine_->engine().stats();
  EXPECT_GT(s.requestRules, 100000u);
  EXPECT_GT(s.elemHideRules, 9000u);
  EXPECT_GT(s.rulesIn(DecisionStep::kBlockingByDomain1),
            10000u);  // easyprivacy's "||host^" rules
}

TEST_F(RealListsTest, SiteSpecificSelectorsReachTheirPages) {
  const Strings advfn = engine_->selectors("https://www.advfn.com/quote");
  EXPECT_TRUE(has(advfn, "#APS_300_X_600"));
  EXPECT_TRUE(has(advfn, "#APS_BILLBOARD"));
  EXPECT_FALSE(has(advfn, "#Ad1-300x250"));  // seafoodsource.com's
  EXPECT_TRUE(has(engine_->selectors("thetvdb.com"), "#ATF"));
  EXPECT_TRUE(has(engine_->selectors("https://www.seafoodsource.com/x"),
                  "#Ad1-300x250"));
  EXPECT_TRUE(engine_->selectors("https://unlisted-site.invalid/").empty());
  EXPECT_TRUE(engine_->selectors("localhost").empty());
}

TEST_F(RealListsTest, OtherHidingSyntaxesFollowTheHashHashRoute) {
  // "site#@##sel" contains "##": an element-hiding rule for the site
  // "dez.ro#@", which no host ever has as a candidate.
  for (const SelectorSource& s :
       engine_->engine().explainSelectors("dez.ro", "", "").selectors) {
    EXPECT_NE(s.ruleText, "dez.ro#@##ad-carousel");
  }
  // "site#?#sel" has no "##": it is filed as a request rule and blocks a
  // URL that holds its text.
  const std::string rule =
      "deliveroo.*#?#a[role=\"button\"]:has(p:has-text(Sponsored))";
  const BlockExplanation why = engine_->engine().explainBlock(
      "http://x/deliveroo.co.uk#?#a[role=\"button\"]:has(p:has-text("
      "Sponsored))",
      "");
  EXPECT_EQ(why.blocked, 1);
  EXPECT_EQ(why.ruleText, rule);
}

TEST_F(RealListsTest, RealRequests) {
  EXPECT_EQ(engine_->block("https://www.google-analytics.com/analytics.js",
                           "http://"),
            1);
  EXPECT_EQ(engine_->block("https://www.example.org/index.html", ""), 0);
}

}  // namespace
}  // namespace quibex
