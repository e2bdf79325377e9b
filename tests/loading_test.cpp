// Loading rule files through the decoder seam: which texts reach the
// decoder, which plain lines are filed where, missing and unreadable files,
// repeated loads and reloads, and a thread that cannot be started.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/test_support.h"

namespace quibex {
namespace {

using testing::ManualLauncher;
using testing::ScriptedDecoder;
using testing::TempDir;
using Strings = std::vector<std::string>;

// An engine on a scripted decoder, loading synchronously.
struct ScriptedEngine {
  explicit ScriptedEngine(MatchMode mode = MatchMode::kAccelerated)
      : engine(decoder, EngineOptions{mode, nullptr}) {}
  void load(const std::string& first, const std::string& second) {
    engine.loadRules(first, second);
    engine.waitForLoads();
  }
  ScriptedDecoder decoder;
  FilterEngineImpl engine;
};

TEST(LoadingTest, DecoderSeesEveryLineOncePerPassBracketedPerFile) {
  TempDir dir;
  ScriptedEngine s;
  s.load(dir.write("1", "a\r\nb\n"), dir.write("2", ""));
  EXPECT_EQ(s.decoder.calls(), (Strings{"<begin>", "a", "b", "", "<end>",
                                        "<begin>", "", "<end>"}));
}

TEST(LoadingTest, TheLoadingThreadIsNamed) {
  TempDir dir;
  ScriptedEngine s;
  std::string name;
  s.decoder.transform = [&name](std::string_view, std::string&) {
    char buffer[16] = {};
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    name = buffer;
    return false;
  };
  s.load(dir.write("1", "a"), "");
  EXPECT_EQ(name, kLoadThreadName);
}

TEST(LoadingTest, MissingFileDoesNotTouchTheDecoder) {
  TempDir dir;
  ScriptedEngine s;
  s.load(dir.path() + "/none", dir.write("2", "||a.b^"));
  EXPECT_EQ(s.decoder.calls(), (Strings{"<begin>", "||a.b^", "<end>"}));
  // Only list 1 rules exist.
  EXPECT_EQ(s.engine.explainBlock("http://a.b/", "").step,
            DecisionStep::kBlockingByDomain1);
}

TEST(LoadingTest, EmptyPathsAndDirectoriesAreSkipped) {
  TempDir dir;
  ScriptedEngine s;
  s.load("", dir.path());
  EXPECT_FALSE(s.engine.isLoading());
  EXPECT_EQ(s.engine.stats().requestRules, 0u);
  // A directory opens but cannot be read: the file is bracketed, no line.
  EXPECT_EQ(s.decoder.calls(), (Strings{"<begin>", "<end>"}));
}

TEST(LoadingTest, UnreadableFileIsSkipped) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads files regardless of mode";
  TempDir dir;
  const std::string path = dir.write("1", "||a.b^");
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  ScriptedEngine s;
  s.load(path, "");
  EXPECT_EQ(s.engine.stats().requestRules, 0u);
}

TEST(LoadingTest, LineEndsAreCutOnlyWhereTheyEndTheLine) {
  TempDir dir;
  ScriptedEngine s;
  s.load(dir.write("1", "ab\r\nab\nab\r\r\na\rb\nab\r"), "");
  EXPECT_EQ(s.decoder.calls(),
            (Strings{"<begin>", "ab", "ab", "ab\r", "a\rb", "ab", "<end>"}));
}

TEST(LoadingTest, LongRulesArriveWhole) {
  TempDir dir;
  std::string sites;
  for (int i = 0; i < 3000; ++i) sites += "|s" + std::to_string(i) + ".com";
  const std::string rule = "/track$domain=a.b" + sites;
  ASSERT_GT(rule.size(), 20000u);
  testing::LoadedEngine e(rule + "\n", "");
  EXPECT_EQ(e->stats().requestRules, 1u);
  EXPECT_EQ(e.block("http://x/track", "http://s2999.com/"), 1);
  EXPECT_EQ(e.block("http://x/track", "http://q.r/"), 0);
}

TEST(LoadingTest, LinesReachTheParsersUntrimmed) {
  // "  !x" is not a comment: it becomes the pattern "*  !x*".
  testing::LoadedEngine e("  ! ads\n! ads2\n", "");
  EXPECT_EQ(e->stats().requestRules, 1u);
  EXPECT_EQ(e.block("http://x/  ! ads"), 1);
  EXPECT_EQ(e.block("http://x/ads2"), 0);
}

TEST(LoadingTest, HashHashLinesNeverReachTheRequestParser) {
  // Rejected by the element-hiding parser and then dropped.
  testing::LoadedEngine e("!x##y\n##.generic\nexample.com#@#.ad\na#?#b##c\n",
                          "");
  const EngineStats stats = e->stats();
  EXPECT_EQ(stats.elemHideRules, 1u);  // only a#?#b##c
  // "#@#" has no "##": it is filed as a request rule.
  EXPECT_EQ(stats.requestRules, 1u);
  EXPECT_EQ(e.block("http://example.com#@#.ad/"), 1);
  EXPECT_EQ(e.selectors("a#?#b"), Strings{});  // one label
}

TEST(LoadingTest, DecoderNullAndEmptyResultsSkipOnlyThatLine) {
  TempDir dir;
  ScriptedEngine s;
  s.decoder.transform = [](std::string_view line, std::string& plain) {
    if (line == "null") return false;
    if (line == "empty") {
      plain.clear();
      return true;
    }
    // A stand-in cipher: the stored line is the rule reversed.
    plain.assign(line.rbegin(), line.rend());
    return true;
  };
  s.load(dir.write("1", "^b.a||\nnull\nempty\n^d.c||\n"), "");
  EXPECT_EQ(s.engine.stats().requestRules, 2u);
  EXPECT_EQ(s.engine.shouldBlock("http://a.b/", ""), 1);
  EXPECT_EQ(s.engine.shouldBlock("http://c.d/", ""), 1);
}

TEST(LoadingTest, EmptyLinesAddRulesOnlyWhenDecodedToText) {
  TempDir dir;
  ScriptedEngine s;
  s.decoder.transform = [](std::string_view line, std::string& plain) {
    plain = line.empty() ? std::string("/from-empty") : std::string(line);
    return true;
  };
  s.load(dir.write("1", "\n"), "");
  // The file has an empty line and the empty text after its line feed;
  // the second file is missing and never reaches the decoder.
  EXPECT_EQ(s.engine.stats().requestRules, 2u);
}

TEST(LoadingTest, SecondLoadFilesEveryRuleAgain) {
  TempDir dir;
  ScriptedEngine s;
  const std::string first = dir.write("1", "||a.b^\na.b##.x\n");
  s.load(first, "");
  s.load(first, "");
  EXPECT_EQ(s.engine.stats().requestRules, 2u);
  EXPECT_EQ(s.engine.getSelectors("a.b", "", ""), (Strings{".x", ".x"}));
}

TEST(LoadingTest, ReloadWithMissingFilesLeavesNoRule) {
  TempDir dir;
  ScriptedEngine s;
  s.load(dir.write("1", "||a.b^\na.b##.x\n"), dir.write("2", "/ads/"));
  ASSERT_EQ(s.engine.shouldBlock("http://a.b/", ""), 1);
  s.engine.reloadRules(dir.path() + "/no1", dir.path() + "/no2");
  s.engine.waitForLoads();
  EXPECT_EQ(s.engine.shouldBlock("http://a.b/", ""), 0);
  EXPECT_EQ(s.engine.shouldBlock("http://x/ads/", ""), 0);
  EXPECT_TRUE(s.engine.getSelectors("a.b", "", "").empty());
  EXPECT_EQ(s.engine.lastFirstPath(), dir.path() + "/no1");
}

TEST(LoadingTest, ClearOnEmptyEngineLeavesEveryContainerUsable) {
  TempDir dir;
  ScriptedEngine s;
  s.engine.reloadRules(dir.write("1", "||a.b^\n/x/\na.b##.y"), "");
  s.engine.waitForLoads();
  EXPECT_EQ(s.engine.shouldBlock("http://a.b/", ""), 1);
  EXPECT_EQ(s.engine.shouldBlock("http://c.d/x/", ""), 1);
  EXPECT_EQ(s.engine.getSelectors("a.b", "", ""), Strings{".y"});
}

TEST(LoadingTest, FailedThreadStartKeepsAnsweringFromRulesInPlace) {
  TempDir dir;
  ScriptedDecoder decoder;
  ManualLauncher launcher;
  FilterEngineImpl engine(decoder,
                          EngineOptions{MatchMode::kAccelerated, &launcher});
  engine.loadRules(dir.write("1", "||a.b^"), "");
  launcher.runNext();
  ASSERT_EQ(engine.shouldBlock("http://a.b/", ""), 1);

  launcher.refuse();
  engine.loadRules(dir.write("2", "||c.d^"), "");
  EXPECT_FALSE(engine.isLoading());
  EXPECT_EQ(engine.shouldBlock("http://a.b/", ""), 1);
  engine.reloadRules(dir.path() + "/none", "");
  EXPECT_EQ(engine.shouldBlock("http://a.b/", ""), 1);
  engine.waitForLoads();  // nothing pending: returns at once
}

}  // namespace
}  // namespace quibex
