// Whole-line reading of rule files; see rule_file_reader.h.
#include "engine/rule_file_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace quibex {
namespace {

// Bytes read at a time.
constexpr size_t kBlockBytes = 64 * 1024;
// The largest buffer: the longest line kept, one byte more to see that a
// line is longer, and the spare byte behind the last line.
constexpr size_t kMostBufferBytes = kMaxRuleLineRead + 2;

}  // namespace

RuleFileReader::RuleFileReader(std::FILE* file)
    : file_(file),
      buffer_(new char[kBlockBytes + 1]),
      capacity_(kBlockBytes + 1) {}

bool RuleFileReader::readMore() {
  if (atEnd_ || failed_) return false;
  char* const bytes = buffer_.get();
  const size_t got = std::fread(bytes + len_, 1, capacity_ - 1 - len_, file_);
  if (got == 0) {
    if (std::ferror(file_)) {
      failed_ = true;
    } else {
      atEnd_ = true;
    }
    return false;
  }
  if (nul_ == len_) {  // no NUL so far: look among the new bytes
    const void* nul = std::memchr(bytes + len_, '\0', got);
    nul_ = nul != nullptr
               ? static_cast<size_t>(static_cast<const char*>(nul) - bytes)
               : len_ + got;
  }
  len_ += got;
  return true;
}

bool RuleFileReader::makeRoom() {
  char* bytes = buffer_.get();
  if (pos_ > 0) {
    std::memmove(bytes, bytes + pos_, len_ - pos_);
    len_ -= pos_;
    scanned_ -= pos_;
    nul_ -= pos_;
    pos_ = 0;
  }
  if (len_ < capacity_ - 1) return true;
  // The buffer holds one unfinished line: twice the room, up to the most.
  const size_t grown = std::min(capacity_ * 2, kMostBufferBytes);
  char* larger = new (std::nothrow) char[grown];
  if (larger == nullptr) return false;
  std::memcpy(larger, bytes, len_);
  buffer_.reset(larger);
  capacity_ = grown;
  return true;
}

void RuleFileReader::dropLine() { pos_ = len_ = scanned_ = nul_ = 0; }

bool RuleFileReader::nextFromBlock(std::string_view* line) {
  bool skipping = false;  // the line in progress is read through, not kept
  bool noMemory = false;  // it is skipped because memory for it ran out
  while (!done_) {
    const char* feed = static_cast<const char*>(
        std::memchr(buffer_.get() + scanned_, '\n', len_ - scanned_));
    size_t end;  // where the line in progress ends
    if (feed == nullptr) {
      scanned_ = len_;
      if (!skipping && len_ - pos_ > kMaxRuleLineRead) {
        skipping = true;
      } else if (!skipping && !makeRoom()) {
        skipping = noMemory = true;
      }
      if (skipping) dropLine();
      if (readMore()) continue;
      done_ = true;
      if (failed_) return false;  // drop the line in progress
      if (skipping) break;
      end = len_;  // the text after the last line feed
    } else {
      end = static_cast<size_t>(feed - buffer_.get());
      if (!skipping && end - pos_ > kMaxRuleLineRead) skipping = true;
      if (skipping) {
        ++skipped_;
        if (noMemory) ++memorySkipped_;
        skipping = noMemory = false;
        pos_ = scanned_ = end + 1;
        if (nul_ < pos_) findNul();
        continue;
      }
    }
    char* const bytes = buffer_.get();
    size_t stop = std::min(nul_, end);  // the text ends at its first NUL
    if (stop > pos_ && bytes[stop - 1] == '\r') --stop;
    bytes[stop] = '\0';
    *line = std::string_view(bytes + pos_, stop - pos_);
    if (!done_) {
      pos_ = scanned_ = end + 1;
      if (nul_ < pos_) findNul();
    }
    return true;
  }
  if (skipping) {
    ++skipped_;
    if (noMemory) ++memorySkipped_;
  }
  return false;
}

void RuleFileReader::findNul() {
  const char* bytes = buffer_.get();
  const void* nul = std::memchr(bytes + pos_, '\0', len_ - pos_);
  nul_ = nul != nullptr
             ? static_cast<size_t>(static_cast<const char*>(nul) - bytes)
             : len_;
}

}  // namespace quibex
