// Detached POSIX threads for load bodies.
#include "engine/thread_launcher.h"

#include <pthread.h>

namespace quibex {
namespace {

// Owns a pthread attribute object for its scope.
class ThreadAttributes {
 public:
  ThreadAttributes() { ok_ = pthread_attr_init(&attr_) == 0; }
  ~ThreadAttributes() {
    if (ok_) pthread_attr_destroy(&attr_);
  }
  ThreadAttributes(const ThreadAttributes&) = delete;
  ThreadAttributes& operator=(const ThreadAttributes&) = delete;

  bool ok() const { return ok_; }
  pthread_attr_t* get() { return &attr_; }

 private:
  pthread_attr_t attr_;  // the attribute object
  bool ok_ = false;      // whether attr_ was initialised
};

class DetachedThreadLauncher final : public ThreadLauncher {
 public:
  bool launch(ThreadBody body, void* arg) noexcept override {
    ThreadAttributes attributes;
    if (!attributes.ok()) return false;
    pthread_attr_setdetachstate(attributes.get(), PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    return pthread_create(&thread, attributes.get(), body, arg) == 0;
  }
};

}  // namespace

void nameCurrentThread(const char* name) noexcept {
  pthread_setname_np(pthread_self(), name);
}

ThreadLauncher& detachedThreadLauncher() {
  static DetachedThreadLauncher launcher;
  return launcher;
}

}  // namespace quibex
