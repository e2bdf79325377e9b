// End-to-end tests of "quibex lint": planted dead rules found with their
// line numbers and grades, the per-container counts agreeing with what the
// engine files (as "stats" reports it), and the bundled samples clean.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/quibex_cli_runner.h"
#include "tests/test_support.h"

namespace quibex::testing {
namespace {

// The number at the end of the first output line that contains label.
long countOf(const std::string& out, const std::string& label) {
  for (const std::string& line : splitLines(out)) {
    if (line.find(label) == std::string::npos) continue;
    const size_t digits = line.find_last_not_of("0123456789");
    return std::strtol(line.c_str() + digits + 1, nullptr, 10);
  }
  ADD_FAILURE() << "no line with " << label << " in\n" << out;
  return -1;
}

// The finding lines "FILE:LINE: GRADE: RULE" of the output, as
// "LINE GRADE", each followed by its reasons.
struct Finding {
  std::string where;    // "LINE GRADE"
  std::string reasons;  // the indented lines after it, joined
};

std::vector<Finding> findingsOf(const std::string& out,
                                const std::string& path) {
  std::vector<Finding> findings;
  for (const std::string& line : splitLines(out)) {
    if (line.rfind(path + ":", 0) == 0) {
      const std::string rest = line.substr(path.size() + 1);
      const size_t colon = rest.find(": ");
      const size_t grade = rest.find(": ", colon + 2);
      findings.push_back(Finding{rest.substr(0, colon) + " " +
                                     rest.substr(colon + 2, grade - colon - 2),
                                 ""});
    } else if (!findings.empty() && line.rfind("    ", 0) == 0) {
      findings.back().reasons += line.substr(4) + "\n";
    }
  }
  return findings;
}

// A finding the output must list, in order: its "LINE GRADE" and a part of
// its reasons.
struct ExpectedFinding {
  const char* where;
  const char* reason;
};

template <size_t N>
::testing::AssertionResult sameFindings(const std::vector<Finding>& findings,
                                        const ExpectedFinding (&expected)[N]) {
  if (findings.size() != N) {
    return ::testing::AssertionFailure()
           << findings.size() << " findings, expected " << N;
  }
  for (size_t i = 0; i < N; ++i) {
    if (findings[i].where != expected[i].where ||
        findings[i].reasons.find(expected[i].reason) == std::string::npos) {
      return ::testing::AssertionFailure()
             << "finding " << i << " is \"" << findings[i].where << "\" with\n"
             << findings[i].reasons << "\nexpected \"" << expected[i].where
             << "\" with \"" << expected[i].reason << "\"";
    }
  }
  return ::testing::AssertionSuccess();
}

const char kPlanted[] =
    "! a list with planted rules that cannot take effect\n"  // 1
    "||good.example^\n"                                      // 2
    "||a.example:8080^\n"                                    // 3
    "/x/$xmlhttprequest\n"                                   // 4
    "/x/$xmlhttprequest,script\n"                            // 5
    "~a.example##.x\n"                                       // 6
    "com##.x\n"                                              // 7
    "a.example:8080,b##.x\n"                                 // 8
    "a.example,~##.x\n"                                      // 9
    "||Ads.Example^\n"                                       // 10
    "example.com#@#.ad\n"                                    // 11
    "example.com#@##.ad\n"                                   // 12
    "##.generic\n"                                           // 13
    "\n"                                                     // 14
    "good.example##.fine\n"                                  // 15
    "/ads/$domain=~\n"                                       // 16
    "  ! not a comment\n"                                    // 17
    "a.example,b.example:1##.x\n"                            // 18
    "/x/$~script\r\n"                                        // 19
    "@@||ok.example^$elemhide\n"                             // 20
    "x$popup,~third-party\n"                                 // 21
    "||a..b^\n"                                              // 22
    "[Adblock Plus 2.0]\n"                                   // 23
    "-tracker.example.com/x";                                // 24

TEST(QuibexCliLint, FindsPlantedRulesWithTheirLineNumbers) {
  TempDir dir;
  const std::string path = dir.write("planted.txt", kPlanted);
  const RunResult run = runQuibex({"lint", path});
  ASSERT_EQ(run.code(), 0) << run.err;
  const std::vector<Finding> findings = findingsOf(run.out, path);
  const ExpectedFinding expected[] = {
      {"3 never", "the domain key \"a.example:8080\" contains \":\""},
      {"4 never",
       "type options (xmlhttprequest) are never satisfied: a request's type "
       "is known only from the end of its URL (\".js\", \".css\", "
       "\".swf\" and image suffixes)"},
      {"6 never", "no included site"},
      {"7 never", "the site \"com\" has a single label"},
      {"8 never", "the site \"b\" has a single label"},
      {"9 never", "empty excluded entry"},
      {"10 unlikely", "upper-case letters"},
      {"11 unlikely", "\"#@#\" belongs to another rule syntax"},
      {"12 unlikely",
       "element-hiding rule for \"example.com#@\" with the selector \".ad\""},
      {"16 never", "empty excluded name"},
      {"17 unlikely", "does not make it a comment"},
      {"22 never", "empty label"},
      {"23 unlikely", "a list header"},
      // Matched as a substring elsewhere, but filed here under a key.
      {"24 unlikely", "a label that begins or ends with \"-\""},
  };
  ASSERT_TRUE(sameFindings(findings, expected)) << run.out;
  // Line 8 names a port too; each unusable site gets its reason.
  EXPECT_NE(findings[4].reasons.find("\"a.example:8080\" contains \":\""),
            std::string::npos);

  EXPECT_EQ(countOf(run.out, "lines"), 24);
  EXPECT_EQ(countOf(run.out, "blank lines"), 1);
  EXPECT_EQ(countOf(run.out, "comments"), 1);
  EXPECT_EQ(countOf(run.out, "rejected lines"), 1);
  EXPECT_EQ(countOf(run.out, "element-hiding rules"), 7);
  EXPECT_EQ(countOf(run.out, "request rules"), 14);
  EXPECT_EQ(countOf(run.out, "\"elemhide\" exceptions"), 1);
  EXPECT_EQ(countOf(run.out, "options the engine ignores"), 1);
  EXPECT_NE(run.out.find("popup (1)"), std::string::npos);
  EXPECT_EQ(countOf(run.out, "never take effect"), 8);
  EXPECT_EQ(countOf(run.out, "unlikely to take effect"), 6);
}

TEST(QuibexCliLint, RejectedLinesListedOnRequest) {
  TempDir dir;
  const std::string path = dir.write("planted.txt", kPlanted);
  const RunResult plain = runQuibex({"lint", path});
  EXPECT_EQ(plain.out.find(": rejected: "), std::string::npos);
  const RunResult listed = runQuibex({"lint", "--rejected", path});
  ASSERT_EQ(listed.code(), 0) << listed.err;
  const std::string line = path + ":13: rejected: ##.generic\n";
  const size_t at = listed.out.find(line);
  ASSERT_NE(at, std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("generic element-hiding rule", at),
            std::string::npos);
  // Rejected lines stand in line order among the findings.
  EXPECT_LT(listed.out.find(path + ":12: "), at);
  EXPECT_GT(listed.out.find(path + ":16: "), at);
}

TEST(QuibexCliLint, CountsAgreeWithWhatTheEngineFiles) {
  TempDir dir;
  const std::vector<std::string> lists = {dir.write("planted.txt", kPlanted),
                                          exampleFile("lists/first.txt"),
                                          exampleFile("lists/second.txt")};
  for (const std::string& list : lists) {
    SCOPED_TRACE(list);
    const RunResult lint = runQuibex({"lint", list});
    const RunResult stats = runQuibex({"stats", "--first", list});
    ASSERT_EQ(lint.code(), 0) << lint.err;
    ASSERT_EQ(stats.code(), 0) << stats.err;
    // The stats table has the second list's column first; this list is
    // the first, so its counts are in the last column.
    EXPECT_EQ(countOf(lint.out, "exceptions filed by domain key"),
              countOf(stats.out, "exceptions filed by domain key"));
    EXPECT_EQ(countOf(lint.out, "generic exceptions"),
              countOf(stats.out, "generic exceptions"));
    EXPECT_EQ(countOf(lint.out, "blocking rules filed by domain key"),
              countOf(stats.out, "blocking rules filed by domain key"));
    EXPECT_EQ(countOf(lint.out, "generic blocking rules"),
              countOf(stats.out, "generic blocking rules"));
    EXPECT_EQ(countOf(lint.out, "request rules"),
              countOf(stats.out, "all request rules"));
    EXPECT_EQ(countOf(lint.out, "element-hiding rules"),
              countOf(stats.out, "all element-hiding rules"));
  }
}

TEST(QuibexCliLint, SampleListsAreClean) {
  const std::string first = exampleFile("lists/first.txt");
  const std::string second = exampleFile("lists/second.txt");
  const RunResult run = runQuibex({"lint", first, second});
  ASSERT_EQ(run.code(), 0) << run.err;
  EXPECT_TRUE(findingsOf(run.out, first).empty()) << run.out;
  EXPECT_TRUE(findingsOf(run.out, second).empty()) << run.out;
  // Both files are summarised, in the order given.
  const size_t a = run.out.find(first + "\n");
  const size_t b = run.out.find(second + "\n");
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(b, std::string::npos);
  EXPECT_LT(a, b);
}

TEST(QuibexCliLint, LineNumbersCountLinesTheReaderSkips) {
  // A line over the reader's limit is skipped by the engine; later line
  // numbers must still match the file.
  TempDir dir;
  const std::string path = dir.write(
      "long.txt", "||ok.example^\n" + std::string((1 << 20) + 10, 'x') +
                      "\n||a.example:1^\n");
  const RunResult run = runQuibex({"lint", "--rejected", path});
  ASSERT_EQ(run.code(), 0) << run.err;
  EXPECT_NE(run.out.find(path + ":2: rejected: "), std::string::npos)
      << run.out.substr(0, 2000);
  EXPECT_NE(run.out.find(path + ":3: never: ||a.example:1^"),
            std::string::npos);
  EXPECT_EQ(countOf(run.out, "lines"), 3);
}

// Rules that match every address, and selectors a browser rejects (the
// judgement agrees with headless chromium on the shared lists; see
// scripts/check_selectors_in_browser.sh).
const char kDangerous[] =
    "*\n"                                                           // 1
    "|\n"                                                           // 2
    "||\n"                                                          // 3
    "^\n"                                                           // 4
    "$script\n"                                                     // 5
    "@@\n"                                                          // 6
    "$third-party,popup\n"                                          // 7
    "@@$elemhide\n"                                                 // 8
    "|^\n"                                                          // 9
    "*$xmlhttprequest\n"                                            // 10
    "a.example##+js(set, x, 1)\n"                                   // 11
    "a.example##div:has-text(ad)\n"                                 // 12
    "a.example##div[id=\"x\n"                                       // 13
    "a.example##.a)\n"                                              // 14
    "a.example##\n"                                                 // 15
    "a.example##.a {top:0}\n"                                       // 16
    "a.example##:has(> .a:has(.b))\n"                               // 17
    "a.example###1a\n"                                              // 18
    "com##+js(x)\n"                                                 // 19
    "a.example##:is(.a, :foo), a:not(.b) > li:nth-child(2n+1)\n"    // 20
    "a.example##[href^=\"http\" i]::before, #\\31 a, *|p\n"         // 21
    "a.example##a:not(::before)\n"                                  // 22
    "a.example##-->a\n"                                             // 23
    "a.example##& > .a::after::marker, ::-webkit-scrollbar:end\n";  // 24

TEST(QuibexCliLint, FindsRulesThatMatchEverythingAndSelectorsBrowsersReject) {
  TempDir dir;
  const std::string path = dir.write("dangerous.txt", kDangerous);
  const RunResult run = runQuibex({"lint", path});
  ASSERT_EQ(run.code(), 0) << run.err;
  const ExpectedFinding expected[] = {
      {"1 everything", "blocks every request, on every page"},
      {"2 everything", "\"*\" matches every address"},
      {"3 everything", "\"**\" matches every address"},
      {"4 everything", "\"*^*\" matches every address"},
      {"5 everything", "of its scope: requests whose URL ends like script"},
      {"6 everything", "allows every request"},
      {"7 everything",
       "third-party requests (the engine ignores its option "
       "\"popup\""},
      // Without a domain key an "elemhide" exception is a generic one.
      {"8 everything", "allows every request, on every page"},
      // 9: the address must begin with a separator.
      {"10 never", "never satisfied"},
      {"11 breaks", "a scriptlet of another rule syntax"},
      {"12 breaks", "\":has-text()\" is a procedural pseudo-class"},
      {"13 breaks", "is not closed"},
      {"14 breaks", "closes nothing"},
      {"15 breaks", "a selector is empty"},
      {"16 breaks", "a style declaration in braces"},
      {"17 breaks", "\":has()\" stands inside \":has()\""},
      {"18 breaks", "\"#1a\" does not begin like a name"},
      // Never served, so its selector breaks nothing.
      {"19 never", "single label"},
      {"22 breaks", "a pseudo-element stands inside"},
      {"23 breaks", "does not follow the selector grammar"},
  };
  const std::vector<Finding> findings = findingsOf(run.out, path);
  ASSERT_TRUE(sameFindings(findings, expected)) << run.out;
  EXPECT_EQ(countOf(run.out, "rules that match every address"), 8);
  EXPECT_EQ(countOf(run.out, "selectors a browser rejects"), 10);
}

TEST(QuibexCliLint, NamesFilesThatAreNotRuleLists) {
  const struct {
    std::string content;
    const char* summary;  // part of the summary, "" for none
    const char* where;    // the first finding listed, "" for none
    const char* reason;   // part of its reasons
  } cases[] = {
      {"\xef\xbb\xbf! title\n||a.example^\n", "byte-order mark", "1 unlikely",
       "the comment after it is filed as a rule"},
      {"\xef\xbb\xbf||a.example^\n", "byte-order mark", "1 unlikely",
       "as the first bytes of this rule"},
      {std::string("*\0*\n|\n", 6), "it has 1 NUL byte", "", ""},
      {std::string(64, '\xff') + "\n*\n", "% of its bytes are not valid UTF-8",
       "", ""},
      // A lone Latin-1 byte is escaped in the reasons, not printed raw.
      {"||caf\xe9.example^\n", "", "1 unlikely", "\"caf\\xe9.example\" has"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    const std::string path = dir.write("list.txt", c.content);
    const RunResult run = runQuibex({"lint", path});
    ASSERT_EQ(run.code(), 0) << run.err;
    const std::string summary = run.out.substr(0, run.out.find("\n\n"));
    if (*c.summary != 0) {
      EXPECT_NE(summary.find(c.summary), std::string::npos) << run.out;
    } else {
      EXPECT_EQ(summary.find("byte-order mark"), std::string::npos);
      EXPECT_EQ(summary.find("not a rule list"), std::string::npos);
    }
    const std::vector<Finding> findings = findingsOf(run.out, path);
    ASSERT_EQ(findings.empty(), *c.where == 0) << run.out;
    if (findings.empty()) {
      // A binary file's rules are counted, not listed.
      EXPECT_GT(countOf(run.out, "match every address"), 0);
      continue;
    }
    EXPECT_EQ(findings[0].where, c.where);
    EXPECT_NE(findings[0].reasons.find(c.reason), std::string::npos)
        << findings[0].reasons;
    EXPECT_EQ(findings[0].reasons.find('\xe9'), std::string::npos);
  }
}

}  // namespace
}  // namespace quibex::testing
