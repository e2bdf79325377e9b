// The do-nothing, one-shot handlers the library installs for five fatal
// signals when it is loaded.
#ifndef QUIBEX_JNI_SIGNAL_STUBS_H_
#define QUIBEX_JNI_SIGNAL_STUBS_H_

#include <signal.h>

namespace quibex {

// The signals that get a stub, in the order they are installed.
inline constexpr int kStubbedSignals[] = {SIGILL, SIGABRT, SIGBUS, SIGFPE,
                                          SIGSEGV};

// The handler installed: it does nothing.
void signalStub(int signo, siginfo_t* info, void* context);

// On its first call, installs signalStub for each of kStubbedSignals with an
// empty mask and the flags SA_SIGINFO | SA_RESETHAND, replacing whatever
// handler was there (the first delivery of each signal runs the stub and
// resets that signal to its default action). Later calls do nothing.
// Results of sigaction are ignored.
//
// Thread-safety: safe to call from any thread; the handlers are installed
// by exactly one call.
void installSignalStubs() noexcept;

}  // namespace quibex

#endif  // QUIBEX_JNI_SIGNAL_STUBS_H_
