// End-to-end tests of "quibex check": decisions and explanations on the
// bundled sample lists, single requests and requests from stdin.
#include <gtest/gtest.h>

#include "tests/quibex_cli_runner.h"
#include "tests/test_support.h"

namespace quibex::testing {
namespace {

struct ExplainedCase {
  const char* url;
  const char* page;
  const char* decision;   // "blocked" or "allowed"
  const char* rule;       // the deciding rule, "" when none matched
  const char* list;       // "first", "second", or "" when none matched
  const char* container;  // the engine's container name, or ""
  const char* key;        // the domain key, or "" for a generic container
};

// One case per thing the sample lists show.
const ExplainedCase kCases[] = {
    {"https://ads.example.net/banner.gif", "https://news.example.com/",
     "blocked", "||ads.example.net^", "first", "blockingByDomain0",
     "ads.example.net"},
    // The first list's exception outweighs its own blocking rule.
    {"https://ads.example.net/acceptable/text-ad.html", "", "allowed",
     "@@||ads.example.net/acceptable/", "first", "exceptionsByDomain0",
     "ads.example.net"},
    // A blocking rule of the second list outweighs the first's exception.
    {"https://ads.example.net/acceptable/video/clip.mp4", "", "blocked",
     "||ads.example.net/acceptable/video/", "second", "blockingByDomain1",
     "ads.example.net"},
    // An exception of the second list outweighs the first's blocking rule.
    {"https://cdn.example.com/promo/partners/logo.png", "", "allowed",
     "@@||cdn.example.com/promo/partners/", "second", "exceptionsByDomain1",
     "cdn.example.com"},
    {"https://tracker.example.org/pixel.gif", "https://news.example.com/",
     "blocked", "||tracker.example.org^$third-party", "first",
     "blockingByDomain0", "tracker.example.org"},
    // First-party: the page's site key occurs in the request URL.
    {"https://tracker.example.org/pixel.gif", "https://www.example.org/",
     "allowed", "", "", "", ""},
    // Third-party rules never match without a page.
    {"https://tracker.example.org/pixel.gif", "", "allowed", "", "", "", ""},
    {"https://static.example.com/banner/top.jpg", "", "blocked",
     "/banner/*$image", "first", "blocking0", ""},
    // The query string hides the image suffix.
    {"https://static.example.com/banner/top.jpg?v=2", "", "allowed", "", "", "",
     ""},
    {"https://news.example.com/widgets/share.js",
     "https://news.example.com/story", "blocked",
     "/widgets/*.js$script,domain=news.example.com", "first", "blocking0", ""},
    {"https://news.example.com/widgets/share.js", "https://blog.example.com/",
     "allowed", "", "", "", ""},
    // Byte-wise, case-sensitive matching.
    {"https://ADS.EXAMPLE.NET/banner.gif", "", "allowed", "", "", "", ""},
};

TEST(QuibexCliCheck, PlainAnswerIsTheDecisionAlone) {
  for (const ExplainedCase& c : kCases) {
    std::vector<std::string> extra = {c.url};
    if (*c.page != '\0') extra.push_back(c.page);
    const RunResult run = runQuibex(commandArgs("check", extra));
    EXPECT_EQ(run.code(), 0) << c.url << "\n" << run.err;
    EXPECT_EQ(run.out, std::string(c.decision) + "\n") << c.url;
    EXPECT_EQ(run.err, "");
  }
}

TEST(QuibexCliCheck, ExplainNamesRuleListAndContainer) {
  for (const ExplainedCase& c : kCases) {
    SCOPED_TRACE(std::string(c.url) + " page " + c.page);
    std::vector<std::string> extra = {"--explain", c.url};
    if (*c.page != '\0') extra.push_back(c.page);
    const RunResult run = runQuibex(commandArgs("check", extra));
    ASSERT_EQ(run.code(), 0) << run.err;
    const std::vector<std::string> lines = splitLines(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], c.decision);
    std::map<std::string, std::string> fields = explanationFields(lines);
    EXPECT_EQ(fields["request"], c.url);
    EXPECT_EQ(fields["page"], *c.page != '\0' ? c.page : "(none)");
    if (*c.rule == '\0') {
      EXPECT_NE(fields["rule"].find("none matched"), std::string::npos);
      EXPECT_EQ(fields.count("list"), 0u);
      EXPECT_EQ(fields.count("container"), 0u);
      continue;
    }
    EXPECT_EQ(fields["rule"], c.rule);
    const std::string listFile =
        exampleFile(std::string("lists/") + c.list + ".txt");
    EXPECT_EQ(
        fields["list"].rfind(std::string(c.list) + " (" + listFile + ")", 0),
        0u)
        << fields["list"];
    const std::string& container = fields["container"];
    EXPECT_NE(container.find(std::string("(") + c.container + ")"),
              std::string::npos)
        << container;
    if (*c.key != '\0') {
      EXPECT_NE(container.find(std::string("domain key \"") + c.key + "\""),
                std::string::npos)
          << container;
    } else {
      EXPECT_NE(container.find("generic"), std::string::npos) << container;
    }
    const bool exception = std::string(c.container).find("exceptions") == 0;
    EXPECT_EQ(container.find("exceptions") == 0, exception) << container;
  }
}

TEST(QuibexCliCheck, StdinAnswersEveryLineInOrder) {
  std::string input;
  std::string expected;
  for (const ExplainedCase& c : kCases) {
    input += std::string(c.url) + "\t" + c.page + "\n";
    expected += std::string(c.decision) + "\n";
  }
  const RunResult plain = runQuibex(commandArgs("check", {"--stdin"}), input);
  EXPECT_EQ(plain.code(), 0) << plain.err;
  EXPECT_EQ(plain.out, expected);

  const RunResult explained =
      runQuibex(commandArgs("check", {"--stdin", "--explain"}), input);
  ASSERT_EQ(explained.code(), 0) << explained.err;
  std::string decisions;
  size_t blocks = 0;
  for (const std::string& line : splitLines(explained.out)) {
    if (line.empty() || line[0] == ' ') continue;
    decisions += line + "\n";
    ++blocks;
  }
  EXPECT_EQ(decisions, expected);
  EXPECT_EQ(blocks, std::size(kCases));
}

TEST(QuibexCliCheck, LeftOutListsAreSimplyAbsent) {
  // Without the second list its exception is gone: the first list blocks.
  const RunResult firstOnly =
      runQuibex({"check", "--first", exampleFile("lists/first.txt"),
                 "https://cdn.example.com/promo/partners/logo.png"});
  EXPECT_EQ(firstOnly.code(), 0) << firstOnly.err;
  EXPECT_EQ(firstOnly.out, "blocked\n");
  // Without any list nothing is blocked.
  const RunResult none =
      runQuibex({"check", "https://ads.example.net/banner.gif"});
  EXPECT_EQ(none.code(), 0) << none.err;
  EXPECT_EQ(none.out, "allowed\n");
}

TEST(QuibexCliCheck, RulesGivenAsSecondListDecideFirst) {
  TempDir dir;
  const std::string blocking = dir.write("blocking.txt", "||a.example^\n");
  const std::string exception = dir.write("exception.txt", "@@||a.example^\n");
  const std::string url = "http://a.example/x";
  EXPECT_EQ(
      runQuibex({"check", "--first", blocking, "--second", exception, url}).out,
      "allowed\n");
  EXPECT_EQ(
      runQuibex({"check", "--first", exception, "--second", blocking, url}).out,
      "blocked\n");
}

}  // namespace
}  // namespace quibex::testing
