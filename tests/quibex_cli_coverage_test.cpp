// End-to-end tests of "quibex coverage": per rule, the requests it decided
// and the selectors it served, named by file and line, with the unused and
// shadowed rules.
#include <gtest/gtest.h>

#include "tests/quibex_cli_runner.h"
#include "tests/test_support.h"

namespace quibex::testing {
namespace {

// Line 3 repeats line 2 and never decides; /banner/* matches a request that
// a domain-keyed rule of the same list decides first.
const char kFirst[] =
    "! first\n"              // 1
    "||ads.example^\n"       // 2
    "||ads.example^\n"       // 3
    "@@||ads.example/ok/\n"  // 4
    "/banner/*\n"            // 5
    "example.com##.ad\n";    // 6

// Line 3 is longer than the engine reads; it still counts as a line.
std::string secondList() {
  return "||ads.example/ok/video/\n"           // 1
         "@@||news.example.com^$elemhide\n" +  // 2
         std::string((size_t{1} << 20) + 1, 'x') +
         "\n" +               // 3
         "example.com##.x\n"  // 4
         "/never-seen/\n";    // 5
}

const char kRequests[] =
    "http://ads.example/a\t\n"
    "http://ads.example/ok/1\t\n"
    "http://ads.example/ok/video/v\t\n"
    "http://other.example/banner/b\t\n"
    "http://nothing.example/\t\n"
    "http://ads.example/banner/z\t\n";

const char kPages[] =
    "news.example.com\thttps://news.example.com/\t\n"  // switched off
    "shop.example.com\t\t\n"
    "www.example.com\t\t\n";

class QuibexCliCoverage : public ::testing::Test {
 protected:
  void SetUp() override {
    first_ = dir_.write("first.txt", kFirst);
    second_ = dir_.write("second.txt", secondList());
    pages_ = dir_.write("pages.tsv", kPages);
  }

  RunResult coverage(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"coverage", "--first", first_, "--second",
                                     second_};
    args.insert(args.end(), extra.begin(), extra.end());
    return runQuibex(args, kRequests);
  }

  TempDir dir_;
  std::string first_, second_, pages_;
};

TEST_F(QuibexCliCoverage, CountsWhatEachRuleDecided) {
  const RunResult run = coverage({"--pages", pages_});
  ASSERT_EQ(run.code(), 0) << run.err;
  const std::string& f = first_;
  const std::string& s = second_;
  EXPECT_EQ(run.out,
            f + ":2\t2\t||ads.example^\n" + f + ":3\t0\t||ads.example^\n" + f +
                ":4\t1\t@@||ads.example/ok/\n" + f + ":5\t1\t/banner/*\n" + f +
                ":6\t2\texample.com##.ad\n" + s +
                ":1\t1\t||ads.example/ok/video/\n" + s +
                ":2\t1\t@@||news.example.com^$elemhide\n" + s +
                ":4\t2\texample.com##.x\n" + s + ":5\t0\t/never-seen/\n");
  EXPECT_EQ(run.err,
            "quibex coverage: 6 requests, 5 decided by a rule; 3 pages, 1 "
            "switched off, 4 selectors\n"
            "  first list (" +
                f +
                "): 4 of 5 rules decided something\n"
                "  second list (" +
                s + "): 3 of 4 rules decided something\n");
}

TEST_F(QuibexCliCoverage, ShadowedAndUnusedRules) {
  // Without pages no element-hiding rule or "elemhide" exception decides
  // anything: they are left out of the totals (and of --unused). The repeated
  // rule matches what the first one decides; /banner/* matches a request
  // that a rule consulted before it decides.
  const RunResult run = coverage({"--shadowed"});
  ASSERT_EQ(run.code(), 0) << run.err;
  const std::string& f = first_;
  const std::string& s = second_;
  EXPECT_EQ(run.out,
            f + ":2\t2\t4\t||ads.example^\n" + f +
                ":3\t0\t4\t||ads.example^\n" + f +
                ":4\t1\t2\t@@||ads.example/ok/\n" + f +
                ":5\t1\t2\t/banner/*\n" + f + ":6\t0\t-\texample.com##.ad\n" +
                s + ":1\t1\t1\t||ads.example/ok/video/\n" + s +
                ":2\t0\t0\t@@||news.example.com^$elemhide\n" + s +
                ":4\t0\t-\texample.com##.x\n" + s + ":5\t0\t0\t/never-seen/\n");
  EXPECT_EQ(run.err,
            "quibex coverage: 6 requests, 5 decided by a rule\n"
            "  first list (" +
                f +
                "): 3 of 4 rules decided something, 1 "
                "matched but never decided\n"
                "  second list (" +
                s +
                "): 1 of 2 rules decided something, 0 "
                "matched but never decided\n"
                "  element-hiding rules and \"elemhide\" exceptions left out: "
                "they decide pages, and no --pages were given\n");

  // With pages or without, the unused rules are the same two: without
  // pages the element-hiding rules are left out rather than listed.
  for (const bool withPages : {true, false}) {
    const RunResult unused = coverage(
        withPages ? std::vector<std::string>{"--unused", "--pages", pages_}
                  : std::vector<std::string>{"--unused"});
    ASSERT_EQ(unused.code(), 0) << unused.err;
    EXPECT_EQ(unused.out,
              f + ":3\t0\t||ads.example^\n" + s + ":5\t0\t/never-seen/\n");
  }
}

}  // namespace
}  // namespace quibex::testing
