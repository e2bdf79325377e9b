// End-to-end tests of what a list's CI relies on: exit codes that tell
// findings and changes from trouble, "-" for standard input, closed
// standard descriptors, --json output, --version and FILE:LINE in the
// explanations.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/quibex_cli_runner.h"
#include "tests/test_support.h"

namespace quibex::testing {
namespace {

const char kMissing[] = "/nonexistent/quibex-missing-list.txt";

// Every line of out parsed as JSON.
std::vector<nlohmann::json> jsonLines(const std::string& out) {
  std::vector<nlohmann::json> values;
  for (const std::string& line : splitLines(out)) {
    values.push_back(nlohmann::json::parse(line));
  }
  return values;
}

TEST(QuibexCliCi, ExitCodesTellFindingsAndChangesFromTrouble) {
  TempDir dir;
  // One rule that never takes effect, one that is only unlikely to.
  const std::string list =
      dir.write("list.txt", "/x/$xmlhttprequest\n||Ads.example^\n");
  const std::string first = exampleFile("lists/first.txt");
  const std::string second = exampleFile("lists/second.txt");
  const std::string update = exampleFile("lists/second-update.txt");
  const std::string requests = readFile(exampleFile("requests.tsv"));
  const struct {
    std::vector<std::string> args;
    int code;
  } cases[] = {
      {{"lint", list}, 0},
      {{"lint", "--fail-on", "everything", list}, 0},
      {{"lint", "--fail-on", "never", list}, 1},
      {{"lint", "--fail-on", "unlikely", list}, 1},
      {{"lint", "--fail-on", "never", first, second}, 0},
      {{"lint", kMissing}, 1},
      {{"lint", "--fail-on", "never", kMissing}, 2},
      {{"diff", "--first", first, "--second", second, "--new-second", update,
        "--exit-code"},
       1},
      {{"diff", "--first", first, "--second", second, "--new-second", second,
        "--exit-code"},
       0},
      {{"diff", "--new-second", kMissing}, 1},
      {{"diff", "--new-second", kMissing, "--exit-code"}, 2},
  };
  for (const auto& c : cases) {
    const RunResult run = runQuibex(c.args, requests);
    EXPECT_EQ(run.code(), c.code) << c.args[0] << " " << c.args[2] << "\n"
                                  << run.err;
  }
}

TEST(QuibexCliCi, DashReadsStandardInputWhereAFileIsExpected) {
  const RunResult lint = runQuibex({"lint", "-"}, "||a.example:1^\n");
  ASSERT_EQ(lint.code(), 0) << lint.err;
  EXPECT_NE(lint.out.find("-:1: never: ||a.example:1^"), std::string::npos)
      << lint.out;
  const RunResult check =
      runQuibex({"check", "--second", "-", "--explain", "http://a.example/x"},
                "! list\n||a.example^\n");
  ASSERT_EQ(check.code(), 0) << check.err;
  const auto fields = explanationFields(splitLines(check.out));
  EXPECT_EQ(splitLines(check.out)[0], "blocked");
  EXPECT_EQ(fields.at("line"), "-:2");
}

TEST(QuibexCliCi, ClosedStandardInputIsNotTakenForAFile) {
  // With stdin closed the page file would get descriptor 0, and be read
  // as the requests too.
  std::string command = "exec";
  for (const std::string& word :
       quibexCommand({"coverage", "--second", exampleFile("lists/second.txt"),
                      "--pages", exampleFile("pages.tsv")})) {
    command += " '" + word + "'";
  }
  const RunResult run = runProgram({"/bin/sh", "-c", command + " <&-"});
  ASSERT_EQ(run.code(), 0) << run.err;
  EXPECT_NE(run.err.find("quibex coverage: 0 requests, 0 decided by a rule; "
                         "5 pages"),
            std::string::npos)
      << run.err;
}

TEST(QuibexCliCi, JsonOutputOfEveryReport) {
  TempDir dir;
  const std::string list = dir.write("list.txt", "*\na.example##+js(x)\n");
  const std::string second = exampleFile("lists/second.txt");
  const std::string requests = readFile(exampleFile("requests.tsv"));

  const std::vector<nlohmann::json> lint =
      jsonLines(runQuibex({"lint", "--json", list}).out);
  ASSERT_EQ(lint.size(), 1u);
  EXPECT_EQ(lint[0]["file"], list);
  EXPECT_EQ(lint[0]["counts"]["findings"]["everything"], 1);
  EXPECT_EQ(lint[0]["findings"][1]["grade"], "breaks");
  EXPECT_EQ(lint[0]["findings"][1]["line"], 2);
  EXPECT_TRUE(lint[0]["findings"][1].contains("rejectedSelector"));

  const std::vector<nlohmann::json> diff = jsonLines(
      runQuibex({"diff", "--json", "--first", exampleFile("lists/first.txt"),
                 "--second", second, "--new-second",
                 exampleFile("lists/second-update.txt")},
                requests)
          .out);
  ASSERT_EQ(diff.size(), 3u);  // two changes, then the summary
  EXPECT_EQ(diff[0]["old"]["blocked"], false);
  EXPECT_EQ(diff[0]["old"]["rule"]["file"], second);
  EXPECT_EQ(diff[0]["old"]["rule"]["line"], 11);
  EXPECT_EQ(diff[0]["new"]["blocked"], true);
  EXPECT_EQ(diff[0]["new"]["rule"]["line"], 10);
  EXPECT_EQ(diff[2]["summary"]["newlyBlocked"], 1);
  EXPECT_EQ(diff[2]["summary"]["newlyAllowed"], 1);
  EXPECT_EQ(diff[2]["summary"]["requests"], 12);

  const std::vector<nlohmann::json> coverage = jsonLines(
      runQuibex({"coverage", "--json", "--unused", "--second", second},
                requests)
          .out);
  ASSERT_FALSE(coverage.empty());
  EXPECT_EQ(coverage.back()["summary"]["requests"], 12);
  EXPECT_EQ(coverage.back()["summary"]["elemHideCounted"], false);
  for (size_t i = 0; i + 1 < coverage.size(); ++i) {
    EXPECT_EQ(coverage[i]["count"], 0);
    EXPECT_EQ(coverage[i]["elemHide"], false);
  }

  const std::vector<nlohmann::json> stats =
      jsonLines(runQuibex({"stats", "--json", "--second", list}).out);
  ASSERT_EQ(stats.size(), 1u);
  EXPECT_EQ(stats[0]["requestRules"], 1);
  EXPECT_EQ(stats[0]["containers"]["blocking1"], 1);
}

TEST(QuibexCliCi, VersionAndSingularCounts) {
  const RunResult version = runQuibex({"--version"});
  EXPECT_EQ(version.code(), 0);
  EXPECT_EQ(version.out.rfind("quibex ", 0), 0u) << version.out;
  EXPECT_NE(version.out.find_first_of("0123456789"), std::string::npos);
  const RunResult batch = runQuibex({"batch"}, "http://a.example/\t\n");
  EXPECT_NE(batch.err.find("quibex batch: 1 request, 0 blocked"),
            std::string::npos)
      << batch.err;
}

}  // namespace
}  // namespace quibex::testing
