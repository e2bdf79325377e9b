// ThreadLauncher: how the engine starts the background thread of a load.
// Production code uses detached POSIX threads; tests substitute a launcher
// that holds a body back or refuses to start one.
#ifndef QUIBEX_ENGINE_THREAD_LAUNCHER_H_
#define QUIBEX_ENGINE_THREAD_LAUNCHER_H_

namespace quibex {

// The signature of a thread body, as POSIX threads take it.
using ThreadBody = void* (*)(void*);

class ThreadLauncher {
 public:
  virtual ~ThreadLauncher() = default;
  // Runs body(arg) on another thread without waiting for it. Returns false
  // when no thread could be started; body is then never run and the caller
  // keeps ownership of arg. Must not throw: failure is the false return.
  virtual bool launch(ThreadBody body, void* arg) noexcept = 0;
};

// The process-wide launcher of detached POSIX threads. Stateless.
ThreadLauncher& detachedThreadLauncher();

// The name of every load body's thread, natively and in the Java VM, so
// that it is recognisable in traces, ANR reports and `ps -T`. At most 15
// characters, the limit of a native thread name.
inline constexpr char kLoadThreadName[] = "quibex-load";

// Names the calling thread (as ps -T and debuggers show it). Failure is
// ignored. REQUIRES: name has at most 15 characters.
void nameCurrentThread(const char* name) noexcept;

}  // namespace quibex

#endif  // QUIBEX_ENGINE_THREAD_LAUNCHER_H_
