// End-to-end tests of "quibex selectors" on the bundled sample lists: the
// engine's order and repeats, the element-hiding exception, and the
// explanations.
#include <gtest/gtest.h>

#include "tests/quibex_cli_runner.h"
#include "tests/test_support.h"

namespace quibex::testing {
namespace {

struct PageCase {
  std::vector<std::string> operands;  // PAGE [DOCUMENT [REFERRER]]
  const char* expected;               // stdout, one selector per line
};

TEST(QuibexCliSelectors, PrintsTheEnginesSelectorsInOrder) {
  const PageCase cases[] = {
      // Candidate order: example.com's rule before news.example.com's.
      {{"https://news.example.com/story"},
       "div.sponsored\n.ad-banner\n#top-ad\n"},
      // A bare host works like a URL.
      {{"news.example.com"}, "div.sponsored\n.ad-banner\n#top-ad\n"},
      // The exclusion ~shop.example.com; both lists' rules in one index.
      {{"https://shop.example.com/cart"}, ".ad-banner\n.newsletter-popup\n"},
      // The elemhide exception needs the document URL to match.
      {{"https://forum.example.com/t/1"}, "div.sponsored\n.signature-ad\n"},
      {{"https://forum.example.com/t/1", "https://forum.example.com/t/1"}, ""},
      {{"https://forum.example.com/t/1", "https://other.example.org/",
        "https://forum.example.com/"},
       "div.sponsored\n.signature-ad\n"},
      // One label: no candidates. Byte-wise: no upper-case match.
      {{"http://localhost:8080/"}, ""},
      {{"https://NEWS.EXAMPLE.COM/"}, ""},
  };
  for (const PageCase& c : cases) {
    const RunResult run = runQuibex(commandArgs("selectors", c.operands));
    EXPECT_EQ(run.code(), 0) << c.operands[0] << "\n" << run.err;
    EXPECT_EQ(run.out, c.expected) << c.operands[0];
  }
}

TEST(QuibexCliSelectors, RepeatsAreKept) {
  TempDir dir;
  // Named twice, and a site and its parent both candidates of the host.
  const std::string list =
      dir.write("list.txt",
                "a.example,a.example##.x\nb.a.example##.y\n"
                "a.example##.y\n");
  const RunResult run =
      runQuibex({"selectors", "--first", list, "http://b.a.example/"});
  EXPECT_EQ(run.code(), 0) << run.err;
  EXPECT_EQ(run.out, ".x\n.x\n.y\n.y\n");
}

TEST(QuibexCliSelectors, ExplainNamesEachSelectorsRule) {
  const RunResult run = runQuibex(
      commandArgs("selectors", {"--explain", "https://news.example.com/s"}));
  ASSERT_EQ(run.code(), 0) << run.err;
  const std::vector<std::string> lines = splitLines(run.out);
  std::map<std::string, std::string> fields = explanationFields(lines);
  EXPECT_EQ(fields["page"], "https://news.example.com/s");
  EXPECT_EQ(fields["document"], "(none)");
  EXPECT_NE(fields["host"].find("example.com, news.example, news.example.com"),
            std::string::npos)
      << fields["host"];
  EXPECT_EQ(fields["selectors"], "3");
  const std::string first = exampleFile("lists/first.txt");
  const std::string expected[][2] = {
      {"div.sponsored",
       first + ":22: example.com,~shop.example.com##div.sponsored"},
      {".ad-banner",
       first + ":21: news.example.com,shop.example.com##.ad-banner"},
      {"#top-ad", first + ":23: news.example.com###top-ad"}};
  size_t found = 0;
  for (const std::string& line : lines) {
    if (line.rfind("  ", 0) != 0) continue;
    ASSERT_LT(found, std::size(expected)) << line;
    const std::string selector = line.substr(2, line.find(' ', 2) - 2);
    EXPECT_EQ(selector, expected[found][0]);
    EXPECT_EQ(line.substr(line.find(" from ") + 6), expected[found][1]);
    ++found;
  }
  EXPECT_EQ(found, std::size(expected));
}

TEST(QuibexCliSelectors, ExplainSaysWhyThereAreNone) {
  const struct {
    std::vector<std::string> operands;
    const char* reason;  // part of the "selectors:" line
  } cases[] = {
      {{"https://forum.example.com/t/1", "https://forum.example.com/t/1"},
       "lists/second.txt:16: @@||forum.example.com^$elemhide, which matches"},
      {{"http://localhost/"}, "one label has no domain candidates"},
      {{"https://unlisted.example.org/"}, "no element-hiding rule"},
      {{""}, "the page address is empty"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> operands = {"--explain"};
    operands.insert(operands.end(), c.operands.begin(), c.operands.end());
    const RunResult run = runQuibex(commandArgs("selectors", operands));
    ASSERT_EQ(run.code(), 0) << run.err;
    std::map<std::string, std::string> fields =
        explanationFields(splitLines(run.out));
    EXPECT_EQ(fields["selectors"].rfind("none; ", 0), 0u)
        << fields["selectors"];
    EXPECT_NE(fields["selectors"].find(c.reason), std::string::npos)
        << fields["selectors"];
  }
}

}  // namespace
}  // namespace quibex::testing
