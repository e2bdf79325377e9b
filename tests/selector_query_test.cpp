// The selector query end to end from rule files: candidate order, repeats,
// ports, exclusions, elemhide exceptions, loading and clearing.
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace quibex {
namespace {

using testing::LoadedEngine;
using Strings = std::vector<std::string>;

struct SelectorCase {
  std::string first;
  std::string second;
  std::string page;
  std::string document;
  std::string referrer;
  Strings selectors;
};

class SelectorTest
    : public ::testing::TestWithParam<std::tuple<SelectorCase, MatchMode>> {};

TEST_P(SelectorTest, SelectorsOfPage) {
  const SelectorCase& c = std::get<0>(GetParam());
  LoadedEngine e(c.first, c.second, std::get<1>(GetParam()));
  EXPECT_EQ(e.selectors(c.page, c.document, c.referrer), c.selectors)
      << c.first << " | " << c.second << " | " << c.page;
  Strings explained;
  for (const SelectorSource& s :
       e->explainSelectors(c.page, c.document, c.referrer).selectors) {
    explained.push_back(s.selector);
  }
  EXPECT_EQ(explained, c.selectors);
}

const SelectorCase kSelectorCases[] = {
    // Candidate order: example.com comes before news.example.com.
    {"news.example.com##.a\nexample.com##.b",
     "",
     "news.example.com",
     "",
     "",
     {".b", ".a"}},
    // Filing order within a candidate, first file before the second.
    {"a.b##.1\na.b##.2", "a.b##.3", "http://a.b/", "", "", {".1", ".2", ".3"}},
    // Repeats: one rule naming two candidates; the same line in both files;
    // a rule naming a site twice; a candidate yielded twice.
    {"example.com,news.example.com##.x",
     "",
     "news.example.com",
     "",
     "",
     {".x", ".x"}},
    {"a.b##.x", "a.b##.x", "a.b", "", "", {".x", ".x"}},
    {"a.b,a.b##.x", "", "a.b", "", "", {".x", ".x"}},
    {"a.a##.x", "", "a.a.a", "", "", {".x", ".x"}},
    // Every host holding the site as a run of labels; not others.
    {"example.com##.ad", "", "a.b.example.com", "", "", {".ad"}},
    {"example.com##.ad", "", "example.com.au", "", "", {".ad"}},
    {"example.com##.ad", "", "example.com.example.net", "", "", {".ad"}},
    {"example.com##.ad", "", "myexample.com", "", "", {}},
    {"example.com##.ad", "", "example.co", "", "", {}},
    // Ports: the domain test sees them, the candidates never do.
    {"a.b##.x", "", "x://news.a.b:8080/index", "", "", {".x"}},
    {"a.b,~:8080##.x", "", "x://news.a.b:8080/index", "", "", {}},
    {"a.b,~:8080##.x", "", "news.a.b", "", "", {".x"}},
    {"example.com:8080##.ad", "", "example.com:8080", "", "", {}},
    {"com##.ad", "", "example.com", "", "", {}},
    // Exclusions are substring tests.
    {"example.com,~ads.example.com##.ad",
     "",
     "news.example.com",
     "",
     "",
     {".ad"}},
    {"example.com,~ads.example.com##.ad", "", "ads.example.com", "", "", {}},
    {"example.com,~ads.example.com##.ad", "", "myads.example.com", "", "", {}},
    {"~example.com##.ad", "", "a.example.com", "", "", {}},
    // One-label hosts and empty pages get nothing.
    {"localhost##.x", "", "localhost", "", "", {}},
    {"a.b##.x", "", "", "http://a.b/", "", {}},
    // Generic "##" rules are never filed.
    {"##.generic\na.b##.x", "", "a.b", "", "", {".x"}},
    // An elemhide exception for the document switches hiding off.
    {"a.b##.x\n@@||a.b^$elemhide", "", "a.b", "http://a.b/page", "", {}},
    {"a.b##.x\n@@||a.b^$elemhide", "", "a.b", "", "", {".x"}},
    {"a.b##.x\n@@||a.b^$elemhide", "", "a.b", "http://c.d/", "", {".x"}},
    {"a.b##.x\n@@||c.d^$elemhide,domain=a.b",
     "",
     "a.b",
     "http://c.d/",
     "http://a.b/",
     {}},
    {"a.b##.x\n@@||c.d^$elemhide,domain=a.b",
     "",
     "a.b",
     "http://c.d/",
     "",
     {".x"}},
    // An elemhide exception without a domain key is not consulted here.
    {"a.b##.x\n@@/page$elemhide", "", "a.b", "http://a.b/page", "", {".x"}},
    // Selectors are verbatim, blanks and "##" included.
    {"a.b##x##y\na.b## .z ", "", "a.b", "", "", {"x##y", " .z "}},
};

INSTANTIATE_TEST_SUITE_P(
    Cases, SelectorTest,
    ::testing::Combine(::testing::ValuesIn(kSelectorCases),
                       ::testing::Values(MatchMode::kAccelerated,
                                         MatchMode::kPlain)));

TEST(SelectorTest, ExceptionSwitchesHidingOffWhileBlockingIgnoresIt) {
  LoadedEngine e("a.b##.x\n||a.b^\n@@||a.b^$elemhide\n@@/ok$elemhide", "");
  const SelectorExplanation why = e->explainSelectors("a.b", "http://a.b/", "");
  EXPECT_TRUE(why.switchedOff);
  EXPECT_EQ(why.exceptionRule, "@@||a.b^$elemhide");
  EXPECT_EQ(e.block("http://a.b/"), 1);    // the keyed one plays no part
  EXPECT_EQ(e.block("http://a.b/ok"), 0);  // the generic one is an exception
}

TEST(SelectorTest, ClearedByReload) {
  LoadedEngine e("a.b##.x", "");
  ASSERT_EQ(e.selectors("a.b"), Strings{".x"});
  testing::TempDir dir;
  e->reloadRules(dir.write("1", "c.d##.y"), dir.path() + "/missing");
  e->waitForLoads();
  EXPECT_TRUE(e.selectors("a.b").empty());
  EXPECT_EQ(e.selectors("c.d"), Strings{".y"});
  e->reloadRules(dir.path() + "/missing", dir.path() + "/missing");
  e->waitForLoads();
  EXPECT_TRUE(e.selectors("c.d").empty());
}

}  // namespace
}  // namespace quibex
