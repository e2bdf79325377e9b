// Applying the proxy override file; see proxy_override.h.
#include "jni/proxy_override.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace quibex {

namespace {

// Closes a file descriptor when it goes out of scope.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;

  int get() const { return fd_; }

 private:
  int fd_;  // the descriptor owned, or negative
};

// Bytes of the file that are used; the buffer keeps one more for the NUL.
constexpr size_t kOverrideBytes = 255;

}  // namespace

int applyProxyOverride(const char* path) noexcept {
  const ScopedFd file(open(path, O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return 0;
  char buffer[kOverrideBytes + 1] = {};
  const ssize_t got = read(file.get(), buffer, kOverrideBytes);
  if (got > 0 && buffer[0] != '\0') setenv("proxy", buffer, 1);
  return 0;
}

}  // namespace quibex
