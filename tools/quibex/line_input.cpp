// Streaming line reader; see line_input.h.
#include "tools/quibex/line_input.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/quibex/command.h"

namespace quibex::tool {
namespace {

// Large enough that a read costs little per line, small enough to stay
// well inside a CPU's second-level cache.
constexpr size_t kBufferBytes = 256 * 1024;

}  // namespace

LineInput::LineInput(int fd, std::function<void()> beforeRead)
    : fd_(fd),
      beforeRead_(std::move(beforeRead)),
      buffer_(new char[kBufferBytes]) {}

bool LineInput::refill() {
  const size_t kept = len_ - pos_;
  if (kept > 0 && pos_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + pos_, kept);
  }
  pos_ = 0;
  len_ = kept;
  if (atEnd_ || failed_) return false;
  if (beforeRead_) beforeRead_();
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.get() + len_, kBufferBytes - len_);
    if (got > 0) {
      len_ += static_cast<size_t>(got);
      return true;
    }
    if (got == 0) {
      atEnd_ = true;
      return false;
    }
    if (errno == EINTR) continue;
    failed_ = true;
    readErrno_ = errno;
    return false;
  }
}

bool LineInput::refuse() {
  tooLong_ = true;
  ++lineNumber_;
  long_.clear();
  return false;
}

bool LineInput::deliver(const char* start, size_t size,
                        std::string_view* line) {
  if (long_.size() + size > kMaxInputLine) return refuse();
  std::string_view text(start, size);
  if (!long_.empty()) {
    long_.append(start, size);
    text = long_;
  }
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  ++lineNumber_;
  *line = text;
  return true;
}

bool LineInput::next(std::string_view* line) {
  if (tooLong_) return false;
  // A line of many megabytes may have grown the aside copy; do not keep it.
  if (long_.capacity() > 4 * kBufferBytes) std::string().swap(long_);
  long_.clear();
  size_t scanned = pos_;  // buffer_[pos_, scanned) holds no line feed
  for (;;) {
    char* const buffer = buffer_.get();
    const void* feed = std::memchr(buffer + scanned, '\n', len_ - scanned);
    if (feed != nullptr) {
      const size_t start = pos_;
      const size_t end =
          static_cast<size_t>(static_cast<const char*>(feed) - buffer);
      pos_ = end + 1;
      return deliver(buffer + start, end - start, line);
    }
    if (long_.size() + (len_ - pos_) > kMaxInputLine) return refuse();
    if (pos_ == 0 && len_ == kBufferBytes) {
      // The buffer holds a part of one line only: set it aside.
      long_.append(buffer, len_);
      len_ = 0;
    }
    const size_t kept = len_ - pos_;
    if (!refill()) {
      if (failed_) return false;  // drop the line in progress
      if (kept == 0 && long_.empty()) return false;
      pos_ = len_;  // the last line, without a line feed
      return deliver(buffer_.get(), len_, line);
    }
    scanned = kept;
  }
}

int inputStatus(const LineInput& input) {
  if (input.tooLong()) {
    return failure("line " + std::to_string(input.lineNumber()) +
                   " of the input is longer than " +
                   std::to_string(kMaxInputLine >> 20) + " MiB");
  }
  if (input.failed()) {
    return failure(std::string("cannot read the input: ") +
                   std::strerror(input.readErrno()));
  }
  return kExitOk;
}

void splitTabFields(std::string_view line, std::string* const* fields,
                    size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (i + 1 == count) {
      fields[i]->assign(line.data(), line.size());
      break;
    }
    const size_t tab = line.find('\t');
    const size_t end = tab == std::string_view::npos ? line.size() : tab;
    fields[i]->assign(line.data(), end);
    line.remove_prefix(tab == std::string_view::npos ? line.size() : tab + 1);
  }
}

}  // namespace quibex::tool
