// End-to-end tests of the tool's error paths: missing and unreadable
// files, wrong command lines, and the help texts, with their exit codes
// (0 success, 1 a file or stream could not be used, 2 a wrong command line)
// and messages.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/quibex_cli_runner.h"
#include "tests/test_support.h"

namespace quibex::testing {
namespace {

const char kMissing[] = "/nonexistent/quibex-missing-list.txt";

TEST(QuibexCliErrors, MissingRuleFileIsReportedForEveryCommand) {
  const std::vector<std::vector<std::string>> commands = {
      {"check", "--first", kMissing, "http://a.example/"},
      {"check", "--second", kMissing, "http://a.example/"},
      {"selectors", "--second", kMissing, "a.example"},
      {"batch", "--first", kMissing},
      {"stats", "--second", kMissing},
      {"lint", kMissing},
      {"diff", "--new-second", kMissing},
      {"coverage", "--first", kMissing},
  };
  for (const std::vector<std::string>& args : commands) {
    const RunResult run = runQuibex(args);
    EXPECT_EQ(run.code(), 1) << args[0];
    EXPECT_EQ(run.out, "") << args[0];
    EXPECT_EQ(run.err, std::string("quibex: cannot open rule file '") +
                           kMissing + "': No such file or directory\n")
        << args[0];
  }
}

TEST(QuibexCliErrors, OneMissingFileFailsEvenWhenTheOtherIsFine) {
  const RunResult run =
      runQuibex({"check", "--first", exampleFile("lists/first.txt"), "--second",
                 kMissing, "https://ads.example.net/"});
  EXPECT_EQ(run.code(), 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(kMissing), std::string::npos) << run.err;
}

TEST(QuibexCliErrors, MissingPageFileIsReported) {
  const RunResult run = runQuibex({"coverage", "--pages", kMissing}, "");
  EXPECT_EQ(run.code(), 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, std::string("quibex: cannot open page file '") + kMissing +
                         "': No such file or directory\n");
}

TEST(QuibexCliErrors, DirectoryGivenAsRuleFileIsReported) {
  TempDir dir;
  // A directory opens but cannot be read.
  const RunResult directory =
      runQuibex({"check", "--first", dir.path(), "http://a.example/"});
  EXPECT_EQ(directory.code(), 1);
  EXPECT_EQ(directory.err, "quibex: cannot read rule file '" + dir.path() +
                               "': Is a directory\n");
  const RunResult lint = runQuibex({"lint", dir.path()});
  EXPECT_EQ(lint.code(), 1);
  EXPECT_NE(lint.err.find("Is a directory"), std::string::npos) << lint.err;
}

TEST(QuibexCliErrors, RuleFileWithoutReadPermissionIsReported) {
  TempDir dir;
  const std::string locked = dir.write("locked.txt", "||a.example^\n");
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  // Permissions do not bind a privileged user.
  if (::access(locked.c_str(), R_OK) == 0) {
    GTEST_SKIP() << "running with permission to read any file";
  }
  const RunResult denied =
      runQuibex({"batch", "--second", locked}, "http://a.example/\t\n");
  EXPECT_EQ(denied.code(), 1);
  EXPECT_EQ(denied.out, "");
  EXPECT_EQ(denied.err, "quibex: cannot open rule file '" + locked +
                            "': Permission denied\n");
}

TEST(QuibexCliErrors, WrongCommandLinesExitWithTwo) {
  const std::string list = exampleFile("lists/first.txt");
  const struct {
    std::vector<std::string> args;
    const char* message;  // part of stderr
  } cases[] = {
      {{}, "no command given"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"check"}, "a request URL is required"},
      {{"check", "a", "b", "c"}, "too many arguments"},
      {{"check", "--explain", "--stdin", "http://a.example/"},
       "--stdin takes no URL"},
      {{"check", "--frobnicate", "http://a.example/"},
       "unknown option '--frobnicate'"},
      {{"check", "http://a.example/", "--first"},
       "option '--first' needs a value"},
      {{"check", "--first", list, "--first", list, "http://a.example/"},
       "option '--first' given twice"},
      {{"check", "--first=", "http://a.example/"},
       "option '--first' needs a file name"},
      {{"check", "--explain=yes", "http://a.example/"},
       "option '--explain' takes no value"},
      {{"selectors"}, "missing arguments"},
      {{"selectors", "a", "b", "c", "d"}, "too many arguments"},
      {{"batch", "extra"}, "too many arguments"},
      {{"batch", "--explain"}, "unknown option '--explain'"},
      {{"lint"}, "missing arguments"},
      {{"lint", "--first", list, list}, "unknown option '--first'"},
      {{"stats", "extra"}, "too many arguments"},
      {{"diff", "extra"}, "too many arguments"},
      {{"diff", "--new-first="}, "option '--new-first' needs a file name"},
      {{"coverage", "--pages", ""}, "option '--pages' needs a file name"},
      {{"coverage", "--unused=yes"}, "option '--unused' takes no value"},
      {{"lnit", list}, "Did you mean 'quibex lint'?"},
      {{"diff"}, "nothing to compare: give --new-first or --new-second"},
      {{"diff", "--new-first", list, "--tsv", "--json"}, "exclude each other"},
      {{"lint", "--fail-on", "bad", list}, "--fail-on takes everything"},
      {{"batch", "--first", "-"}, "'-' cannot name a file"},
      {{"coverage", "--pages", "-"}, "'-' cannot name a file"},
      {{"check", "--stdin", "--second", "-"}, "'-' cannot name a file"},
  };
  for (const auto& c : cases) {
    const RunResult run = runQuibex(c.args);
    const std::string shown = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(run.code(), 2) << shown << ": " << run.err;
    EXPECT_EQ(run.out, "") << shown;
    EXPECT_NE(run.err.find(c.message), std::string::npos)
        << shown << ": " << run.err;
  }
}

TEST(QuibexCliErrors, HelpForEveryCommand) {
  const char* const commands[] = {"check", "selectors", "batch",   "lint",
                                  "stats", "diff",      "coverage"};
  for (const char* command : commands) {
    for (const char* flag : {"--help", "-h"}) {
      // Help wins over any other argument, even a wrong one.
      const RunResult run = runQuibex({command, "--frobnicate", flag});
      EXPECT_EQ(run.code(), 0) << command;
      EXPECT_EQ(run.out.rfind(std::string("usage: quibex ") + command, 0), 0u)
          << run.out;
      EXPECT_EQ(run.err, "");
    }
  }
  const RunResult overview = runQuibex({"--help"});
  EXPECT_EQ(overview.code(), 0);
  for (const char* command : commands) {
    EXPECT_NE(overview.out.find(std::string("  ") + command + " "),
              std::string::npos)
        << command;
  }
}

TEST(QuibexCliErrors, OverlongInputLineFailsTheBatch) {
  const std::string input =
      "http://a.example/\t\n" + std::string((16 << 20) + 1, 'x') + "\n";
  const RunResult run = runQuibex({"batch"}, input);
  EXPECT_EQ(run.code(), 1);
  EXPECT_EQ(run.out, "0\n");  // the answers before it are kept
  EXPECT_NE(run.err.find("line 2 of the input is longer than 16 MiB"),
            std::string::npos)
      << run.err;
}

TEST(QuibexCliErrors, LongInputLinesUpToTheLimitAreAnswered) {
  // Lines longer than the tool's read buffer, one of exactly the limit, a
  // carriage return after a megabyte and a long last line without a line
  // feed: each is read whole and answered.
  TempDir dir;
  const std::string list = dir.write("list.txt", "||blocked.example^\n");
  const std::string blocked = "https://blocked.example/";
  const std::string limit(16 << 20, 'c');
  const std::string input = blocked + std::string(300 << 10, 'a') + "\t\n" +
                            "https://fine.example/" +
                            std::string(1 << 20, 'b') + "\t\r\n" + blocked +
                            limit.substr(blocked.size()) + "\n" + blocked +
                            "x\t\n" + blocked + std::string(300 << 10, 'd');
  const RunResult run = runQuibex({"batch", "--first", list}, input);
  EXPECT_EQ(run.code(), 0) << run.err;
  EXPECT_EQ(run.out, "1\n0\n1\n1\n1\n");
  EXPECT_NE(run.err.find("5 requests, 4 blocked"), std::string::npos)
      << run.err;
}

TEST(QuibexCliErrors, UnwritableOutputFails) {
  const RunResult run =
      runQuibex({"check", "--first", exampleFile("lists/first.txt"),
                 "https://ads.example.net/"},
                "", "/dev/full");
  EXPECT_EQ(run.code(), 1);
  EXPECT_NE(run.err.find("cannot write the output"), std::string::npos)
      << run.err;
}

}  // namespace
}  // namespace quibex::testing
