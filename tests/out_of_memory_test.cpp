// Loading when memory runs out: every allocation of a load is made to fail
// in turn, and a decoder fails on each line in turn. The load must end
// cleanly each time (flag cleared, every file's decoding ended, no line
// filed in part) and keep every line it was not handling.
//
// This executable replaces the global operator new so that one chosen
// allocation throws bad_alloc.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

// Allocations left before the one that fails; negative: none fails.
std::atomic<long> allocationsBeforeFailure{-1};

}  // namespace

void* operator new(size_t size) {
  if (allocationsBeforeFailure.load(std::memory_order_relaxed) >= 0 &&
      allocationsBeforeFailure.fetch_sub(1) == 0) {
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// The nothrow form (the standard library's temporary buffers) fails where
// the plain one would throw, and its storage goes back through the
// replaced delete.
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
// g++ takes free() inside a replacement operator delete for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace quibex {
namespace {

using testing::TempDir;
using Strings = std::vector<std::string>;

// Counts files begun and ended; allocates nothing of its own.
class CountingDecoder final : public LineDecoder {
 public:
  void beginFile() override { ++begun; }
  bool decryptLine(std::string_view line, std::string* plain) override {
    if (line == failOn) throw std::bad_alloc();
    if (line.empty()) return false;
    plain->assign(line.data(), line.size());
    return true;
  }
  void endFile() override { ++ended; }

  int begun = 0;
  int ended = 0;
  std::string_view failOn;  // a line whose decoding runs out of memory
};

// Runs each body at once on the calling thread.
class InlineLauncher final : public ThreadLauncher {
 public:
  bool launch(ThreadBody body, void* arg) noexcept override {
    body(arg);
    return true;
  }
};

constexpr const char* kFirst =
    "||a.a^\n"
    "@@||a.a/ok^\n"
    "/banner/\n"
    "s1.a,s2.a##.x\n";
constexpr const char* kSecond =
    "||b.b^$script\n"
    "@@||c.c^$elemhide\n"
    "s1.a,c.c##.y\n";

// One probe per line of the two files: the line's effect on the answers.
struct Probe {
  const char* line;
  bool (*present)(FilterEngineImpl&);
};

const Probe kProbes[] = {
    {"||a.a^",
     [](FilterEngineImpl& e) { return e.shouldBlock("http://a.a/", "") == 1; }},
    {"@@||a.a/ok^",
     [](FilterEngineImpl& e) {
       return e.shouldBlock("http://a.a/ok/", "") == 0;
     }},
    {"/banner/",
     [](FilterEngineImpl& e) {
       return e.shouldBlock("http://z.z/banner/", "") == 1;
     }},
    {"s1.a,s2.a##.x",
     [](FilterEngineImpl& e) {
       return e.getSelectors("s2.a", "", "") == Strings{".x"};
     }},
    {"||b.b^$script",
     [](FilterEngineImpl& e) {
       return e.shouldBlock("http://b.b/x.js", "") == 1;
     }},
    {"@@||c.c^$elemhide",
     [](FilterEngineImpl& e) {
       return e.getSelectors("c.c", "http://c.c/", "").empty();
     }},
    {"s1.a,c.c##.y",
     [](FilterEngineImpl& e) {
       return !e.getSelectors("s1.a", "", "").empty() &&
              e.getSelectors("s1.a", "", "").back() == ".y";
     }},
};

TEST(OutOfMemoryTest, DecoderFailingOnOneLineDropsThatLineAlone) {
  TempDir dir;
  const std::string first = dir.write("1", kFirst);
  const std::string second = dir.write("2", kSecond);
  for (const Probe& failing : kProbes) {
    SCOPED_TRACE(failing.line);
    CountingDecoder decoder;
    decoder.failOn = failing.line;
    FilterEngineImpl engine(decoder);
    engine.loadRules(first, second);
    engine.waitForLoads();
    EXPECT_FALSE(engine.isLoading());
    EXPECT_EQ(decoder.begun, 2);
    EXPECT_EQ(decoder.ended, 2);
    for (const Probe& probe : kProbes) {
      EXPECT_EQ(probe.present(engine), &probe != &failing) << probe.line;
    }
  }
}

TEST(OutOfMemoryTest, EveryAllocationOfALoadMayFail) {
  TempDir dir;
  const std::string first = dir.write("1", kFirst);
  const std::string second = dir.write("2", kSecond);
  InlineLauncher launcher;
  long failures = 0;
  for (long k = 0;; ++k) {
    SCOPED_TRACE(k);
    CountingDecoder decoder;
    FilterEngineImpl engine(decoder,
                            EngineOptions{MatchMode::kAccelerated, &launcher});
    allocationsBeforeFailure = k;
    engine.loadRules(first, second);
    const bool failed = allocationsBeforeFailure.exchange(-1) < 0;
    if (!failed) break;  // the whole load made fewer than k allocations
    ++failures;
    EXPECT_FALSE(engine.isLoading());
    EXPECT_EQ(decoder.begun, decoder.ended);
    // A rule is filed whole or not at all: the element-hiding rules answer
    // on all of their sites or on none.
    const EngineStats stats = engine.stats();
    size_t filed = 0;
    for (const size_t rules : stats.containerRules) filed += rules;
    EXPECT_EQ(stats.requestRules, filed);
    const bool hasX = engine.getSelectors("s2.a", "", "") == Strings{".x"};
    const bool hasY = engine.getSelectors("c.c", "", "") == Strings{".y"};
    EXPECT_EQ(engine.getSelectors("s1.a", "", "").size(),
              size_t{hasX} + size_t{hasY});
    // The engine stays sound: a reload with memory to spare loads it all.
    engine.reloadRules(first, second);
    for (const Probe& probe : kProbes)
      EXPECT_TRUE(probe.present(engine)) << probe.line;
  }
  EXPECT_GT(failures, 20);
}

}  // namespace
}  // namespace quibex
