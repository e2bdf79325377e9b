// RuleFileReader: cuts an open rule file into lines, each read whole; and
// readRuleLines, the one loop that reads a rule file line by line, decodes
// each line and accounts for the lines it skips.
//
// A file of k line feeds yields k + 1 lines: the text before each line feed
// and the text after the last one (empty when the file ends with a line
// feed, so an empty file yields one empty line). A line's text ends at its
// first NUL byte, and one carriage return at its end is removed. Lines
// longer than kMaxRuleLineRead bytes are read through without being kept and
// are skipped whole, so a corrupt file without line feeds cannot exhaust
// memory; so is a line for which memory runs out. Reading stops at the first
// read error; the line in progress is then dropped.
#ifndef QUIBEX_ENGINE_RULE_FILE_READER_H_
#define QUIBEX_ENGINE_RULE_FILE_READER_H_

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "engine/line_decoder.h"

namespace quibex {

// Longest rule line kept, in bytes (without its line end).
inline constexpr size_t kMaxRuleLineRead = size_t{1} << 20;

// Closes a FILE when its owner goes away.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Reads the file in blocks and hands out each line as a view into the block
// it stands in; only a line that straddles two blocks is moved.
//
// Thread-safety: none; one reader is used by one thread.
class RuleFileReader {
 public:
  // REQUIRES: file stays open for the reader's lifetime. Throws
  // std::bad_alloc when its read buffer cannot be had.
  explicit RuleFileReader(std::FILE* file);
  RuleFileReader(const RuleFileReader&) = delete;
  RuleFileReader& operator=(const RuleFileReader&) = delete;

  // Points *line at the next line and returns true, or returns false when
  // the file is exhausted or a read failed. The text is followed by a NUL
  // (line->data()[line->size()] == '\0'). Valid until the next call. Does
  // not throw.
  bool next(std::string_view* line) {
    // The common case inline: a whole line without a NUL lies in the bytes
    // read; every other case (the end of the bytes read, a NUL, an
    // over-long line, the end of the file) is left to nextFromBlock().
    if (!done_) {
      char* const bytes = buffer_.get();
      const void* feed = std::memchr(bytes + scanned_, '\n', len_ - scanned_);
      if (feed != nullptr) {
        const size_t end =
            static_cast<size_t>(static_cast<const char*>(feed) - bytes);
        if (end < nul_ && end - pos_ <= kMaxRuleLineRead) {
          size_t stop = end;
          if (stop > pos_ && bytes[stop - 1] == '\r') --stop;
          bytes[stop] = '\0';
          *line = std::string_view(bytes + pos_, stop - pos_);
          pos_ = scanned_ = end + 1;
          return true;
        }
      }
    }
    return nextFromBlock(line);
  }

  // True once no line is left to return: after next() returned the last
  // line of the file, or after it returned false.
  bool exhausted() const { return done_; }
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
  // next() for every case: reads more of the file as needed.
  bool nextFromBlock(std::string_view* line);
  // Reads more of the file behind the bytes held; false at its end or on
  // a read error.
  bool readMore();
  // Moves the line in progress to the front and makes room behind it,
  // growing the buffer when the line fills it; false when memory for that
  // ran out.
  bool makeRoom();
  // Forgets the bytes held, as a skipped line's are.
  void dropLine();
  // Sets nul_ for the bytes from pos_.
  void findNul();

  std::FILE* file_;                 // the file read, not owned
  std::unique_ptr<char[]> buffer_;  // bytes read ahead, and one spare byte
  size_t capacity_;                 // bytes buffer_ holds, the spare included
  size_t pos_ = 0;                  // the first byte of the next line
  size_t len_ = 0;                  // bytes read into buffer_
  size_t scanned_ = 0;              // [pos_, scanned_) holds no line feed
  size_t nul_ = 0;                  // the first NUL at or after pos_, or len_
  bool atEnd_ = false;              // end of file reached
  bool failed_ = false;             // a read failed
  bool done_ = false;               // no line is left to return
  size_t skipped_ = 0;              // over-long lines skipped
  size_t memorySkipped_ = 0;        // of skipped_, those memory ran out for
};

// What readRuleLines did with the lines of one file.
struct RuleLineTally {
  size_t undecodable = 0;  // stored lines the decoder gave no plain text for
  size_t tooLong = 0;      // lines over kMaxRuleLineRead bytes, not read
  size_t readOutOfMemory = 0;     // lines memory to read them ran out for
  size_t handledOutOfMemory = 0;  // lines dropped when decoding or handling
                                  // them ran out of memory
  bool readFailed = false;        // reading stopped at a read error

  // Every line dropped for lack of memory.
  size_t outOfMemory() const { return readOutOfMemory + handledOutOfMemory; }
};

// Reads file line by line, numbering the lines from 1 (skipped ones
// included), and hands each line to onLine(number, text), text a
// std::string_view valid for the call.
//
// With a decoder, the file is read inside a DecodedFile bracket, once the
// read buffer is had, and every stored line goes through
// decoder->decryptLine() (a decoder that passesThrough() is not called: the
// stored line is its plain text); a line without plain
// text is not handed on and counts as undecodable unless it is empty (the
// empty text after a final line feed has none by design); an empty plain
// text is not handed on either. Without one (decoder == nullptr), the lines
// are handed on as stored, empty ones included, except the empty text
// after a final line feed, which is no line.
//
// onSkipped(number) is called for each line the reader skips (too long, or
// no memory to hold it), in line order with the others. A line whose
// decoding or handling throws std::bad_alloc is dropped and counted; the
// loop goes on with the next. Throws std::bad_alloc when the read buffer
// cannot be had, and whatever else onLine or onSkipped throws.
//
// REQUIRES: file is open for reading.
template <class OnLine, class OnSkipped>
RuleLineTally readRuleLines(std::FILE* file, LineDecoder* decoder,
                            OnLine&& onLine, OnSkipped&& onSkipped) {
  RuleFileReader reader(file);
  std::optional<DecodedFile> bracket;
  if (decoder != nullptr) bracket.emplace(*decoder);
  RuleLineTally tally;
  const bool decoding = decoder != nullptr && !decoder->passesThrough();
  std::string plain;       // a decoded line, reused for each line
  size_t number = 0;       // the number of the line last seen
  size_t skippedSeen = 0;  // reader.skippedLines() already numbered
  const auto numberSkipped = [&] {
    for (; skippedSeen < reader.skippedLines(); ++skippedSeen) {
      onSkipped(++number);
    }
  };
  std::string_view line;
  while (reader.next(&line)) {
    numberSkipped();
    ++number;
    try {
      if (decoding) {
        if (!decoder->decryptLine(line, &plain)) {
          if (!line.empty()) ++tally.undecodable;
          continue;
        }
        if (plain.empty()) continue;
        line = plain;
      } else if (line.empty() && (decoder != nullptr || reader.exhausted())) {
        // A decoder that passes lines through gives an empty line no plain
        // text; the empty text after a final line feed is no line.
        continue;
      }
      onLine(number, line);
    } catch (const std::bad_alloc&) {
      ++tally.handledOutOfMemory;
    }
  }
  numberSkipped();
  tally.tooLong = reader.longLines();
  tally.readOutOfMemory = reader.memoryLines();
  tally.readFailed = reader.failed();
  return tally;
}

}  // namespace quibex

#endif  // QUIBEX_ENGINE_RULE_FILE_READER_H_
