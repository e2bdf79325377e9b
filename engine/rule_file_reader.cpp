// Whole-line reading of rule files; see rule_file_reader.h.
#include "engine/rule_file_reader.h"

#include <cstring>
#include <new>

namespace quibex {
namespace {

constexpr size_t kChunkBytes = 64 * 1024;

// Ends the text at its first NUL and removes one trailing carriage return.
void finishLine(std::string* line) {
  const void* nul = std::memchr(line->data(), '\0', line->size());
  if (nul != nullptr) {
    line->resize(static_cast<const char*>(nul) - line->data());
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
}

// Appends size bytes to line; false when memory for them cannot be had.
bool append(std::string* line, const char* bytes, size_t size) {
  try {
    line->append(bytes, size);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

RuleFileReader::RuleFileReader(std::FILE* file)
    : file_(file), chunk_(new char[kChunkBytes]) {}

bool RuleFileReader::refill() {
  if (atEnd_ || failed_) return false;
  pos_ = 0;
  len_ = std::fread(chunk_.get(), 1, kChunkBytes, file_);
  if (len_ > 0) return true;
  if (std::ferror(file_)) {
    failed_ = true;
  } else {
    atEnd_ = true;
  }
  return false;
}

bool RuleFileReader::next(std::string* line) {
  while (!done_) {
    line->clear();
    bool skipping = false;  // the line is read through, not kept
    bool ended = false;  // a line feed ended the line
    while (!ended) {
      if (pos_ == len_ && !refill()) {
        done_ = true;
        if (failed_) return false;  // drop the line in progress
        break;                      // the text after the last line feed
      }
      const char* start = chunk_.get() + pos_;
      const size_t available = len_ - pos_;
      const void* feed = std::memchr(start, '\n', available);
      const size_t take =
          feed != nullptr ? static_cast<const char*>(feed) - start : available;
      if (!skipping) {
        const bool tooLong = line->size() + take > kMaxRuleLineRead;
        if (tooLong || !append(line, start, take)) {
          if (!tooLong) ++memorySkipped_;
          skipping = true;
          line->clear();
          line->shrink_to_fit();
        }
      }
      pos_ += take;
      if (feed != nullptr) {
        ++pos_;
        ended = true;
      }
    }
    if (skipping) {
      ++skipped_;
      continue;
    }
    finishLine(line);
    return true;
  }
  return false;
}

}  // namespace quibex
