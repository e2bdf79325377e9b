// RuleFileReader: cuts an open rule file into lines, each read whole.
//
// A file of k line feeds yields k + 1 lines: the text before each line feed
// and the text after the last one (empty when the file ends with a line
// feed, so an empty file yields one empty line). A line's text ends at its
// first NUL byte, and one carriage return at its end is removed. Lines
// longer than kMaxRuleLineRead bytes are read through without being kept and
// are skipped whole, so a corrupt file without line feeds cannot exhaust
// memory; so is a line for which memory runs out. Reading stops at the first read error; the line in progress is
// then dropped.
#ifndef QUIBEX_ENGINE_RULE_FILE_READER_H_
#define QUIBEX_ENGINE_RULE_FILE_READER_H_

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace quibex {

// Longest rule line kept, in bytes (without its line end).
inline constexpr size_t kMaxRuleLineRead = size_t{1} << 20;

// Closes a FILE when its owner goes away.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Thread-safety: none; one reader is used by one thread.
class RuleFileReader {
 public:
  // REQUIRES: file stays open for the reader's lifetime.
  explicit RuleFileReader(std::FILE* file);
  RuleFileReader(const RuleFileReader&) = delete;
  RuleFileReader& operator=(const RuleFileReader&) = delete;

  // Stores the next line in *line (reusing its capacity) and returns true,
  // or returns false when the file is exhausted or a read failed. Does not
  // throw once constructed.
  bool next(std::string* line);

  // True when reading stopped at a read error.
  bool failed() const { return failed_; }
  // Lines skipped because they were longer than kMaxRuleLineRead (or
  // memory for them ran out).
  size_t skippedLines() const { return skipped_; }
  // Of skippedLines(), those skipped for lack of memory.
  size_t memoryLines() const { return memorySkipped_; }
  // Of skippedLines(), those longer than kMaxRuleLineRead.
  size_t longLines() const { return skipped_ - memorySkipped_; }

 private:
  bool refill();

  std::FILE* file_;            // the file read, not owned
  std::unique_ptr<char[]> chunk_;  // bytes read ahead
  size_t pos_ = 0;             // next unread byte in chunk_
  size_t len_ = 0;             // bytes held in chunk_
  bool atEnd_ = false;         // end of file reached
  bool failed_ = false;        // a read failed
  bool done_ = false;          // no line is left to return
  size_t skipped_ = 0;         // over-long lines skipped
  size_t memorySkipped_ = 0;   // of skipped_, those memory ran out for
};

}  // namespace quibex

#endif  // QUIBEX_ENGINE_RULE_FILE_READER_H_
