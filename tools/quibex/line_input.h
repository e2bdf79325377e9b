// LineInput: reads the lines of a stream (stdin) through a fixed buffer, in
// large blocks, so the streaming commands use constant memory whatever the
// size of their input and pay no copy or call per line beyond finding its
// end.
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

  // Sets *line to the next line and returns true. The view points into the
  // reader's buffer (or, for a line longer than the buffer, into a copy the
  // reader keeps) and is valid until the next call. Returns false at the
  // end of the input, after a read error (failed()) or at a line longer
  // than kMaxInputLine (tooLong()).
  bool next(std::string_view* line);

  bool failed() const { return failed_; }
  int readErrno() const { return readErrno_; }  // errno of the failed read
  bool tooLong() const { return tooLong_; }
  // Number of the line last returned (or refused as too long), from 1.
  size_t lineNumber() const { return lineNumber_; }

 private:
  // Keeps the unread bytes, moved to the front of the buffer, and reads
  // more behind them. False at the end of the input or on a read error.
  bool refill();
  // Sets *line to the line made of the bytes set aside in long_ and the
  // size bytes at start, counts it and returns true; refuses it when it is
  // too long.
  bool deliver(const char* start, size_t size, std::string_view* line);
  // Marks the line in progress as too long and returns false.
  bool refuse();

  int fd_;                            // the stream read, not owned
  std::function<void()> beforeRead_;  // called before each read
  std::unique_ptr<char[]> buffer_;    // bytes read ahead
  size_t pos_ = 0;                    // next unread byte in buffer_
  size_t len_ = 0;                    // bytes held in buffer_
  std::string long_;       // a line longer than the buffer, gathered piecewise
  bool atEnd_ = false;     // the stream is exhausted
  bool failed_ = false;    // a read failed
  int readErrno_ = 0;      // errno of that read
  bool tooLong_ = false;   // a line exceeded kMaxInputLine
  size_t lineNumber_ = 0;  // lines returned so far
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
