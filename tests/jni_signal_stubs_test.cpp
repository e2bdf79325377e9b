// The signal stubs installed at load time: each of the five signals gets the
// do-nothing handler with SA_SIGINFO | SA_RESETHAND and an empty mask, only
// on the first call, and the first delivery resets the signal to its
// default action. The test puts the process's previous handlers back.
#include <gtest/gtest.h>
#include <signal.h>

#include <array>
#include <cstddef>
#include <iterator>
#include <vector>

#include "jni/signal_stubs.h"

namespace quibex {
namespace {

constexpr size_t kCount = sizeof(kStubbedSignals) / sizeof(kStubbedSignals[0]);

// Saves the handlers of the stubbed signals and restores them at scope exit.
class SavedHandlers {
 public:
  SavedHandlers() {
    for (size_t i = 0; i < kCount; ++i) {
      sigaction(kStubbedSignals[i], nullptr, &saved_[i]);
    }
  }
  ~SavedHandlers() {
    for (size_t i = 0; i < kCount; ++i) {
      sigaction(kStubbedSignals[i], &saved_[i], nullptr);
    }
  }
  SavedHandlers(const SavedHandlers&) = delete;
  SavedHandlers& operator=(const SavedHandlers&) = delete;

 private:
  std::array<struct sigaction, kCount> saved_;
};

struct sigaction current(int signo) {
  struct sigaction action = {};
  sigaction(signo, nullptr, &action);
  return action;
}

bool isStub(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) != 0 &&
         action.sa_sigaction == &signalStub;
}

TEST(SignalStubsTest, InstallsOneShotStubsOnlyOnce) {
  const SavedHandlers saved;
  EXPECT_EQ(
      std::vector<int>(std::begin(kStubbedSignals), std::end(kStubbedSignals)),
      (std::vector<int>{SIGILL, SIGABRT, SIGBUS, SIGFPE, SIGSEGV}));

  installSignalStubs();
  for (const int signo : kStubbedSignals) {
    SCOPED_TRACE(signo);
    const struct sigaction action = current(signo);
    EXPECT_TRUE(isStub(action));
    EXPECT_EQ(action.sa_flags & (SA_SIGINFO | SA_RESETHAND),
              SA_SIGINFO | SA_RESETHAND);
    EXPECT_EQ(action.sa_flags & (SA_RESTART | SA_NODEFER | SA_ONSTACK), 0);
    for (int other = 1; other < NSIG; ++other) {
      EXPECT_EQ(sigismember(&action.sa_mask, other), 0) << other;
    }
  }

  // A later call leaves a handler installed since then alone.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGFPE, &ignore, nullptr);
  installSignalStubs();
  EXPECT_EQ(current(SIGFPE).sa_handler, SIG_IGN);
  EXPECT_TRUE(isStub(current(SIGSEGV)));

  // The first delivery runs the stub, which returns, and resets the signal.
  for (const int signo : {SIGILL, SIGABRT, SIGBUS, SIGSEGV}) {
    SCOPED_TRACE(signo);
    ASSERT_EQ(raise(signo), 0);
    EXPECT_EQ(current(signo).sa_handler, SIG_DFL);
  }
}

}  // namespace
}  // namespace quibex
