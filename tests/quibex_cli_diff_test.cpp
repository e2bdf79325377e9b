// End-to-end tests of "quibex diff": the requests and pages an update of
// the second list changes, with the rule of each side named by its file and
// line, in the human and the tab-separated form, and the exit code of
// --exit-code.
#include <gtest/gtest.h>

#include "tests/quibex_cli_runner.h"
#include "tests/test_support.h"

namespace quibex::testing {
namespace {

// The old first list stays in place; the update replaces the second.
// Line 6 repeats line 2: the rule filed first decides, and the report must
// name its line, not the repeat's.
const char kFirst[] =
    "! first\n"                // 1
    "||ads.example^\n"         // 2
    "@@||ads.example/ok/\r\n"  // 3
    "/banner/*\n"              // 4
    "||cdn.example^\n"         // 5
    "||ads.example^\n";        // 6
const char kOldSecond[] =
    "! old second\n"               // 1
    "@@||cdn.example/partners/\n"  // 2
    "example.com##.ad\n"           // 3
    "shop.example.com##.ad\n"      // 4
    "||gone.example^\n";           // 5
const char kNewSecond[] =
    "! new second\n"                      // 1
    "||cdn.example/partners/track/\n"     // 2
    "@@||ads.example/banner/\n"           // 3
    "shop.example.com##.ad\n"             // 4
    "example.com##.promo\n"               // 5
    "@@||forum.example.com^$elemhide\n";  // 6

const char kRequests[] =
    "http://ads.example/x\t\n"                     // unchanged, blocked
    "http://ads.example/banner/a.png\n"            // newly allowed
    "http://cdn.example/partners/track/p.gif\t\n"  // newly blocked
    "http://cdn.example/partners/logo.png\thttp://shop.example.com/\n"
    "http://other.example/banner/x\t\n"                // unchanged, blocked
    "http://ads.example/ok/1\thttp://news.example/\n"  // unchanged, allowed
    "http://gone.example/\t\n";  // newly allowed, no rule decides any more

const char kPages[] =
    "shop.example.com\t\t\n"                              // gains and loses one
    "forum.example.com\thttps://forum.example.com/t\t\n"  // switched off
    "localhost\t\t\n";                                    // unchanged

class QuibexCliDiff : public ::testing::Test {
 protected:
  void SetUp() override {
    first_ = dir_.write("first.txt", kFirst);
    oldSecond_ = dir_.write("old-second.txt", kOldSecond);
    newSecond_ = dir_.write("new-second.txt", kNewSecond);
  }

  RunResult diff(const std::vector<std::string>& extra,
                 const std::string& input) {
    std::vector<std::string> args = {"diff",     "--first",  first_,
                                     "--second", oldSecond_, "--new-second",
                                     newSecond_};
    args.insert(args.end(), extra.begin(), extra.end());
    return runQuibex(args, input);
  }

  // text with {F}, {OS} and {NS} replaced by the paths of the first, the
  // old second and the new second list.
  std::string expand(std::string text) const {
    const std::pair<std::string, std::string> names[] = {
        {"{F}", first_}, {"{OS}", oldSecond_}, {"{NS}", newSecond_}};
    for (const auto& [token, path] : names) {
      for (size_t at; (at = text.find(token)) != std::string::npos;) {
        text.replace(at, token.size(), path);
      }
    }
    return text;
  }

  TempDir dir_;
  std::string first_, oldSecond_, newSecond_;
};

TEST_F(QuibexCliDiff, ChangedRequestsWithTheRuleOfEachSide) {
  const RunResult run = diff({}, kRequests);
  ASSERT_EQ(run.code(), 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            expand("newly allowed: http://ads.example/banner/a.png\n"
                   "  page: (none)\n"
                   "  old:  blocked by {F}:2: ||ads.example^\n"
                   "  new:  allowed by {NS}:3: @@||ads.example/banner/\n"
                   "\n"
                   "newly blocked: http://cdn.example/partners/track/p.gif\n"
                   "  page: (none)\n"
                   "  old:  allowed by {OS}:2: @@||cdn.example/partners/\n"
                   "  new:  blocked by {NS}:2: ||cdn.example/partners/track/\n"
                   "\n"
                   "newly blocked: http://cdn.example/partners/logo.png\n"
                   "  page: http://shop.example.com/\n"
                   "  old:  allowed by {OS}:2: @@||cdn.example/partners/\n"
                   "  new:  blocked by {F}:5: ||cdn.example^\n"
                   "\n"
                   "newly allowed: http://gone.example/\n"
                   "  page: (none)\n"
                   "  old:  blocked by {OS}:5: ||gone.example^\n"
                   "  new:  allowed, no rule matched\n"
                   "\n"
                   "7 requests, 2 newly blocked, 2 newly allowed, 3 unchanged\n"
                   "rules behind the most changes:\n"
                   "  2  old  {OS}:2: @@||cdn.example/partners/\n"
                   "  1  old  {F}:2: ||ads.example^\n"
                   "  1  old  {OS}:5: ||gone.example^\n"
                   "  1  new  {F}:5: ||cdn.example^\n"
                   "  1  new  {NS}:2: ||cdn.example/partners/track/\n"
                   "  1  new  {NS}:3: @@||ads.example/banner/\n"));
}

TEST_F(QuibexCliDiff, TabSeparatedChangesAndExitCode) {
  const RunResult run = diff({"--tsv", "--exit-code"}, kRequests);
  EXPECT_EQ(run.code(), 1) << run.err;
  EXPECT_EQ(
      run.out,
      expand("http://ads.example/banner/a.png\t\t1\t0\t{F}:2: ||ads.example^\t"
             "{NS}:3: @@||ads.example/banner/\n"
             "http://cdn.example/partners/track/p.gif\t\t0\t1\t"
             "{OS}:2: @@||cdn.example/partners/\t"
             "{NS}:2: ||cdn.example/partners/track/\n"
             "http://cdn.example/partners/logo.png\thttp://shop.example.com/"
             "\t0\t1\t"
             "{OS}:2: @@||cdn.example/partners/\t{F}:5: ||cdn.example^\n"
             "http://gone.example/\t\t1\t0\t{OS}:5: ||gone.example^\t\n"));
  EXPECT_EQ(run.err,
            "quibex diff: 7 requests, 2 newly blocked, 2 newly allowed, 3 "
            "unchanged\n");

  // The same lists on both sides: nothing changes, and --exit-code says so.
  const RunResult same =
      runQuibex({"diff", "--first", first_, "--second", oldSecond_,
                 "--new-second", oldSecond_, "--exit-code"},
                kRequests);
  EXPECT_EQ(same.code(), 0) << same.err;
  EXPECT_EQ(same.out,
            "7 requests, 0 newly blocked, 0 newly allowed, 7 unchanged\n");
}

TEST_F(QuibexCliDiff, PagesGainAndLoseSelectorsWithTheirRules) {
  // On the shop, ".ad" came from two rules and one of them goes: the lost
  // occurrence is the removed rule's, whatever the engine's order.
  const RunResult run = diff({"--selectors"}, kPages);
  ASSERT_EQ(run.code(), 0) << run.err;
  EXPECT_EQ(
      run.out,
      expand("changed page: shop.example.com\n"
             "  document: (none)\n"
             "  referrer: (none)\n"
             "  + .promo  from {NS}:5: example.com##.promo\n"
             "  - .ad     from {OS}:3: example.com##.ad\n"
             "\n"
             "changed page: forum.example.com\n"
             "  document: https://forum.example.com/t\n"
             "  referrer: (none)\n"
             "  element hiding is now switched off by {NS}:6: "
             "@@||forum.example.com^$elemhide\n"
             "  - .ad  from {OS}:3: example.com##.ad\n"
             "\n"
             "3 pages, 2 changed (1 selector gained, 2 lost), 1 unchanged\n"
             "rules behind the most changes:\n"
             "  2  old  {OS}:3: example.com##.ad\n"
             "  1  new  {NS}:5: example.com##.promo\n"
             "  1  new  {NS}:6: @@||forum.example.com^$elemhide\n"));

  const RunResult tsv = diff({"--selectors", "--tsv"}, kPages);
  ASSERT_EQ(tsv.code(), 0) << tsv.err;
  EXPECT_EQ(tsv.out,
            "shop.example.com\t\t\t+.promo\n"
            "shop.example.com\t\t\t-.ad\n"
            "forum.example.com\thttps://forum.example.com/t\t\t-.ad\n");
  EXPECT_EQ(tsv.err,
            "quibex diff: 3 pages, 2 changed (1 selector gained, 2 lost), 1 "
            "unchanged\n");
}

}  // namespace
}  // namespace quibex::testing
