// Output helpers of the quibex tool: writing to stdout, showing rule text
// and addresses safely on a terminal, aligned "label: value" lines, and
// human units for durations and sizes.
#ifndef QUIBEX_TOOLS_QUIBEX_OUTPUT_H_
#define QUIBEX_TOOLS_QUIBEX_OUTPUT_H_

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace quibex::tool {

// Writes text to stdout as it is (buffered by stdio).
void writeOut(std::string_view text);

// Output for stdout gathered in a block of its own and handed to stdio in
// one call when the block is full or on flush(): the streaming commands
// answer line by line without a stdio call (and its lock) per line.
//
// Thread-safety: none; used by one thread.
class BlockOutput {
 public:
  BlockOutput();
  // Writes what is left.
  ~BlockOutput() { flush(); }
  BlockOutput(const BlockOutput&) = delete;
  BlockOutput& operator=(const BlockOutput&) = delete;

  void append(std::string_view text) {
    if (text.size() > kBlockBytes - used_) {
      appendLarge(text);
      return;
    }
    std::memcpy(block_.get() + used_, text.data(), text.size());
    used_ += text.size();
  }
  // Writes the block to stdout and flushes stdout. Errors show in
  // ferror(stdout).
  void flush();

 private:
  static constexpr size_t kBlockBytes = 64 * 1024;

  // append() for text that does not fit in what is left of the block.
  void appendLarge(std::string_view text);

  std::unique_ptr<char[]> block_;  // the output not yet written
  size_t used_ = 0;                // bytes of it in use
};

// The text with control bytes (below 0x20, and 0x7f) written as \xHH so a
// rule or address cannot disturb the terminal; every other byte is kept.
std::string printable(std::string_view text);

// printable(text) in double quotes.
std::string quoted(std::string_view text);

// printable(text), or "(none)" when text is empty.
std::string orNone(std::string_view text);

// "1 request", "2 requests": count and the noun that fits it.
std::string counted(size_t count, std::string_view singular,
                    std::string_view plural);

// Writes "<indent><label>:<padding> <value>\n" with the value starting at
// column indent + width + 2, so the values of a block line up.
void writeField(std::string_view label, std::string_view value,
                size_t width = 9, size_t indent = 2);

// A duration in the unit that suits it: "850 ns", "12.3 us", "4.56 ms",
// "1.23 s".
std::string formatDuration(double seconds);

// A byte count in the unit that suits it: "512 B", "3.4 KiB", "12.5 MiB".
std::string formatBytes(double bytes);

}  // namespace quibex::tool

#endif  // QUIBEX_TOOLS_QUIBEX_OUTPUT_H_
