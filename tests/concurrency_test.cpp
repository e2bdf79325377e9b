// Queries against loads on other threads: turned away at once while a load
// is marked, answered from the old rules before a reload starts, and
// serialised loads that each run to completion. Run under ThreadSanitizer by
// the test command.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/test_support.h"

namespace quibex {
namespace {

using testing::ManualLauncher;
using testing::ScriptedDecoder;
using testing::TempDir;
using Strings = std::vector<std::string>;

TEST(ConcurrencyTest, QueryDuringLoadIsAnsweredAtOnce) {
  TempDir dir;
  ScriptedDecoder decoder;
  FilterEngineImpl engine(decoder);
  const std::string first = dir.write("1", "||a.b^\na.b##.x\n/hold\n");
  decoder.holdAt("/hold");
  engine.loadRules(first, "");
  decoder.waitUntilHeld();  // the load body holds the mutex here
  ASSERT_TRUE(engine.isLoading());
  // Neither query may wait for the mutex: if they did, this test would hang.
  EXPECT_EQ(engine.shouldBlock("http://a.b/", ""), 0);
  EXPECT_TRUE(engine.getSelectors("a.b", "", "").empty());
  decoder.release();
  engine.waitForLoads();
  EXPECT_FALSE(engine.isLoading());
  EXPECT_EQ(engine.shouldBlock("http://a.b/", ""), 1);
  EXPECT_EQ(engine.getSelectors("a.b", "", ""), Strings{".x"});
}

TEST(ConcurrencyTest, QueryBeforeReloadStartsSeesOldRules) {
  TempDir dir;
  ScriptedDecoder decoder;
  ManualLauncher launcher;
  FilterEngineImpl engine(decoder,
                          EngineOptions{MatchMode::kAccelerated, &launcher});
  engine.loadRules(dir.write("old", "||old.a^"), "");
  EXPECT_EQ(engine.shouldBlock("http://old.a/", ""), 0);  // load pending
  launcher.runNext();
  engine.reloadRules(dir.write("new", "||new.a^"), "");
  ASSERT_EQ(launcher.pending(), 1u);
  EXPECT_FALSE(engine.isLoading());
  EXPECT_EQ(engine.shouldBlock("http://old.a/", ""), 1);
  EXPECT_EQ(engine.shouldBlock("http://new.a/", ""), 0);
  launcher.runNext();
  EXPECT_EQ(engine.shouldBlock("http://old.a/", ""), 0);
  EXPECT_EQ(engine.shouldBlock("http://new.a/", ""), 1);
}

TEST(ConcurrencyTest, EachBodyKeepsItsOwnPaths) {
  TempDir dir;
  ScriptedDecoder decoder;
  ManualLauncher launcher;
  FilterEngineImpl engine(decoder,
                          EngineOptions{MatchMode::kAccelerated, &launcher});
  const std::string a = dir.write("a", "||a.a^");
  const std::string b = dir.write("b", "||b.b^");
  engine.loadRules(a, "");
  engine.loadRules(b, "");  // before the first body has run
  launcher.runNext();
  EXPECT_EQ(engine.lastFirstPath(), a);
  EXPECT_EQ(engine.shouldBlock("http://a.a/", ""), 1);
  EXPECT_EQ(engine.shouldBlock("http://b.b/", ""), 0);
  launcher.runNext();
  EXPECT_EQ(engine.lastFirstPath(), b);
  EXPECT_EQ(engine.shouldBlock("http://b.b/", ""), 1);
}

TEST(ConcurrencyTest, ReloadDuringLoadEndsWithTheReloadsRules) {
  TempDir dir;
  ScriptedDecoder decoder;
  FilterEngineImpl engine(decoder);
  decoder.holdAt("/hold");
  engine.loadRules(dir.write("1", "||a.b^\n/hold\n"), "");
  decoder.waitUntilHeld();
  engine.reloadRules(dir.write("2", "||c.d^\n"), "");
  decoder.release();
  engine.waitForLoads();
  EXPECT_EQ(engine.shouldBlock("http://a.b/", ""), 0);
  EXPECT_EQ(engine.shouldBlock("http://c.d/", ""), 1);
  EXPECT_EQ(engine.stats().requestRules, 1u);
}

TEST(ConcurrencyTest, OverlappingLoadsFileEveryRuleTwice) {
  TempDir dir;
  ScriptedDecoder decoder;
  FilterEngineImpl engine(decoder);
  const std::string first = dir.write("1", "||a.b^\na.b##.x\n");
  engine.loadRules(first, "");
  engine.loadRules(first, "");
  engine.waitForLoads();
  EXPECT_EQ(engine.stats().requestRules, 2u);
  EXPECT_EQ(engine.getSelectors("a.b", "", ""), (Strings{".x", ".x"}));
}

TEST(ConcurrencyTest, FailedStartLeavesARunningLoadsFlagSet) {
  TempDir dir;
  ScriptedDecoder decoder;
  ManualLauncher launcher;
  FilterEngineImpl engine(decoder,
                          EngineOptions{MatchMode::kAccelerated, &launcher});
  decoder.holdAt("/hold");
  engine.loadRules(dir.write("1", "||a.b^\n/hold\n"), "");
  std::thread body([&] { launcher.runNext(); });
  decoder.waitUntilHeld();  // the first body holds the mutex here
  launcher.refuse();
  engine.loadRules(dir.write("2", "||c.d^"), "");
  const bool stillLoading = engine.isLoading();
  EXPECT_TRUE(stillLoading);
  // Queries are then answered without the mutex (a query that waited for
  // it here would never return, so it is asked only then).
  if (stillLoading) {
    EXPECT_EQ(engine.shouldBlock("http://a.b/", ""), 0);
  }
  decoder.release();
  body.join();
  EXPECT_FALSE(engine.isLoading());  // the body that ran cleared it
  EXPECT_EQ(engine.shouldBlock("http://a.b/", ""), 1);
  EXPECT_EQ(engine.shouldBlock("http://c.d/", ""), 0);
}

TEST(ConcurrencyTest, OneEngineForTwoThreadsAtOnce) {
  static PassThroughDecoder decoder;
  std::atomic<bool> go{false};
  FilterEngine* seen[2] = {nullptr, nullptr};
  std::thread threads[2];
  for (int i = 0; i < 2; ++i) {
    threads[i] = std::thread([&, i] {
      while (!go) std::this_thread::yield();
      seen[i] = getFilterEngine(decoder);
    });
  }
  go = true;
  for (std::thread& t : threads) t.join();
  ASSERT_NE(seen[0], nullptr);
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(getFilterEngine(decoder), seen[0]);
}

TEST(ConcurrencyTest, QueriesDuringRepeatedReloadsNeverSeeAHalfLoadedSet) {
  TempDir dir;
  PassThroughDecoder decoder;
  FilterEngineImpl engine(decoder);
  // In both sets "/z" is blocked and then excepted, and x.y gets two
  // selectors: a query that saw a set half loaded could block /z or get one
  // selector alone.
  const std::string a = dir.write("a", "/z\nx.y##.a\n@@/z\nx.y##.a2\n");
  const std::string b = dir.write("b", "/z\nx.y##.b\n@@/z\nx.y##.b2\n");
  engine.loadRules(a, "");
  engine.waitForLoads();

  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::atomic<long> answered{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      while (!stop) {
        if (engine.shouldBlock("http://q/z", "") != 0) bad++;
        const Strings s = engine.getSelectors("x.y", "", "");
        if (!(s.empty() || s == Strings{".a", ".a2"} ||
              s == Strings{".b", ".b2"})) {
          bad++;
        }
        if (!s.empty()) answered++;
      }
    });
  }
  for (int i = 0; i < 40; ++i) {
    engine.reloadRules(i % 2 == 0 ? b : a, "");
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  engine.waitForLoads();
  stop = true;
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(answered.load(), 0);  // some queries were answered from rules
}

}  // namespace
}  // namespace quibex
