// Installing the one-shot signal stubs; see signal_stubs.h.
#include "jni/signal_stubs.h"

#include <atomic>

namespace quibex {

void signalStub(int /*signo*/, siginfo_t* /*info*/, void* /*context*/) {}

void installSignalStubs() noexcept {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  struct sigaction action = {};
  sigemptyset(&action.sa_mask);
  action.sa_sigaction = &signalStub;
  action.sa_flags = SA_SIGINFO | SA_RESETHAND;
  for (const int signo : kStubbedSignals) sigaction(signo, &action, nullptr);
}

}  // namespace quibex
