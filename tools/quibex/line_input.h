// LineInput: reads the lines of a stream (stdin) one at a time through a
// fixed buffer, so the streaming commands use constant memory whatever the
// size of their input.
#ifndef QUIBEX_TOOLS_QUIBEX_LINE_INPUT_H_
#define QUIBEX_TOOLS_QUIBEX_LINE_INPUT_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quibex::tool {

// Longest input line accepted, in bytes (without its line end).
inline constexpr size_t kMaxInputLine = size_t{16} << 20;

// Lines end at a line feed; one carriage return before it is removed. The
// text after the last line feed is a line when it is not empty.
//
// Thread-safety: none; one reader is used by one thread.
class LineInput {
 public:
  // beforeRead is called before every read from fd that may wait for
  // input: the streaming commands flush their answers there, so a peer that
  // writes one line and waits for its answer gets it. REQUIRES: fd stays
  // open for the reader's lifetime.
  LineInput(int fd, std::function<void()> beforeRead);
  LineInput(const LineInput&) = delete;
  LineInput& operator=(const LineInput&) = delete;

  // Stores the next line in *line (reusing its capacity) and returns true.
  // Returns false at the end of the input, after a read error (failed()) or
  // at a line longer than kMaxInputLine (tooLong()).
  bool next(std::string* line);

  bool failed() const { return failed_; }
  int readErrno() const { return readErrno_; }  // errno of the failed read
  bool tooLong() const { return tooLong_; }
  // Number of the line last returned (or refused as too long), from 1.
  size_t lineNumber() const { return lineNumber_; }

 private:
  bool refill();

  int fd_;                            // the stream read, not owned
  std::function<void()> beforeRead_;  // called before each read
  std::unique_ptr<char[]> buffer_;    // bytes read ahead
  size_t pos_ = 0;                    // next unread byte in buffer_
  size_t len_ = 0;                    // bytes held in buffer_
  bool atEnd_ = false;                // the stream is exhausted
  bool failed_ = false;               // a read failed
  int readErrno_ = 0;                 // errno of that read
  bool tooLong_ = false;              // a line exceeded kMaxInputLine
  size_t lineNumber_ = 0;             // lines returned so far
};

// After the last next(): kExitOk when the input was read to its end;
// otherwise prints why it was not (read error, over-long line) on stderr
// and returns kExitFailure.
int inputStatus(const LineInput& input);

// Splits a line at its first count - 1 tabs into *fields[0..count-1]; the
// last field takes the rest of the line, further tabs included. Fields the
// line does not reach are set empty. REQUIRES: count >= 1.
void splitTabFields(std::string_view line, std::string* const* fields,
                    size_t count);

}  // namespace quibex::tool

#endif  // QUIBEX_TOOLS_QUIBEX_LINE_INPUT_H_
