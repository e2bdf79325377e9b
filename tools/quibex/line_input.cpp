// Streaming line reader; see line_input.h.
#include "tools/quibex/line_input.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/quibex/command.h"

namespace quibex::tool {
namespace {

constexpr size_t kBufferBytes = 64 * 1024;

}  // namespace

LineInput::LineInput(int fd, std::function<void()> beforeRead)
    : fd_(fd),
      beforeRead_(std::move(beforeRead)),
      buffer_(new char[kBufferBytes]) {}

bool LineInput::refill() {
  if (atEnd_ || failed_) return false;
  if (beforeRead_) beforeRead_();
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.get(), kBufferBytes);
    if (got > 0) {
      pos_ = 0;
      len_ = static_cast<size_t>(got);
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

bool LineInput::next(std::string* line) {
  if (tooLong_) return false;
  line->clear();
  bool any = false;  // bytes or a line feed were seen for this line
  for (;;) {
    if (pos_ == len_ && !refill()) {
      if (failed_ || !any) return false;
      break;  // the last line, without a line feed
    }
    const char* start = buffer_.get() + pos_;
    const size_t available = len_ - pos_;
    const void* feed = std::memchr(start, '\n', available);
    const size_t take =
        feed != nullptr
            ? static_cast<size_t>(static_cast<const char*>(feed) - start)
            : available;
    if (line->size() + take > kMaxInputLine) {
      tooLong_ = true;
      ++lineNumber_;
      line->clear();
      return false;
    }
    line->append(start, take);
    any = true;
    pos_ += take;
    if (feed != nullptr) {
      ++pos_;
      break;
    }
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  ++lineNumber_;
  return true;
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
