// The library's log; see log.h.
#include "engine/log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef __ANDROID__
#include <android/log.h>
#else
#include <unistd.h>
#endif

namespace quibex {
namespace {

#ifdef __ANDROID__

int androidPriority(LogPriority priority) {
  switch (priority) {
    case LogPriority::kInfo:
      return ANDROID_LOG_INFO;
    case LogPriority::kWarning:
      return ANDROID_LOG_WARN;
    case LogPriority::kError:
      return ANDROID_LOG_ERROR;
  }
  return ANDROID_LOG_ERROR;
}

#else

// Read once: getenv must not race with a later setenv of the host (the
// service start-up sets a variable of its own).
bool stderrWanted() {
  static const bool wanted = [] {
    const char* value = std::getenv(kLogSwitchVariable);
    return value != nullptr && std::strcmp(value, kLogSwitchStderr) == 0;
  }();
  return wanted;
}

const char* priorityName(LogPriority priority) {
  switch (priority) {
    case LogPriority::kInfo:
      return "info";
    case LogPriority::kWarning:
      return "warning";
    case LogPriority::kError:
      return "error";
  }
  return "error";
}

#endif

}  // namespace

void logMessage(LogPriority priority, const char* format, ...) noexcept {
#ifndef __ANDROID__
  if (!stderrWanted()) return;
#endif
  // "quibex: warning: " before the text off Android; logcat shows the tag
  // and priority itself.
  char line[1024];
  size_t used = 0;
#ifndef __ANDROID__
  const int head = std::snprintf(line, sizeof line, "%s: %s: ", kLogTag,
                                 priorityName(priority));
  if (head < 0) return;
  used = static_cast<size_t>(head);
#endif
  va_list arguments;
  va_start(arguments, format);
  // One byte is kept for the line feed.
  const int body =
      std::vsnprintf(line + used, sizeof line - used - 1, format, arguments);
  va_end(arguments);
  if (body < 0) return;
  used = std::min(used + static_cast<size_t>(body), sizeof line - 2);
#ifdef __ANDROID__
  __android_log_print(androidPriority(priority), kLogTag, "%s", line);
#else
  line[used++] = '\n';
  // One write, so that the messages of two threads do not interleave.
  const ssize_t written = ::write(STDERR_FILENO, line, used);
  static_cast<void>(written);
#endif
}

}  // namespace quibex
