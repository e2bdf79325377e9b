// A hundred reloads of both real lists: the rule set is the same after each
// one, and resident memory stays flat (leaks themselves are reported by the
// LeakSanitizer run of the AddressSanitizer configuration).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "tests/test_support.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUIBEX_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUIBEX_UNDER_SANITIZER 1
#endif
#endif

namespace quibex {
namespace {

long residentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

TEST(ReloadCycleTest, HundredReloadsKeepRulesAndMemoryFlat) {
  const std::string first = testing::dataFile("easylist.txt");
  const std::string second = testing::dataFile("easyprivacy.txt");
  if (first.empty() || second.empty()) GTEST_SKIP() << "no shared data";
  if (testing::underEmulator()) {
    GTEST_SKIP() << "under qemu-user the resident memory is the emulator's: "
                    "it keeps some 170-280 kB for every finished thread, and "
                    "each reload ends one";
  }
  PassThroughDecoder decoder;
  FilterEngineImpl engine(decoder);
  engine.loadRules(first, second);
  engine.waitForLoads();
  const EngineStats loaded = engine.stats();
  const int blocked =
      engine.shouldBlock("https://www.google-analytics.com/analytics.js", "");
  long settled = 0;
  for (int cycle = 1; cycle <= 100; ++cycle) {
    if (cycle % 10 == 5) {
      engine.reloadRules("", "");  // clear everything
      engine.waitForLoads();
      ASSERT_EQ(engine.stats().requestRules, 0u);
    }
    engine.reloadRules(first, second);
    engine.waitForLoads();
    const EngineStats now = engine.stats();
    ASSERT_EQ(now.requestRules, loaded.requestRules);
    ASSERT_EQ(now.elemHideRules, loaded.elemHideRules);
    ASSERT_EQ(
        engine.shouldBlock("https://www.google-analytics.com/analytics.js", ""),
        blocked);
    if (cycle == 10) settled = residentKilobytes();
  }
  const long final = residentKilobytes();
  std::printf("resident memory: %ld kB after 10 reloads, %ld kB after 100\n",
              settled, final);
#ifndef QUIBEX_UNDER_SANITIZER
  // A sanitizer's quarantine keeps freed memory resident on purpose.
  ASSERT_GT(settled, 0);
  EXPECT_LT(final - settled, 4 * 1024)
      << "resident memory grew from " << settled << " kB to " << final << " kB";
#endif
}

}  // namespace
}  // namespace quibex
