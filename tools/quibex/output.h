// Output helpers of the quibex tool: writing to stdout, showing rule text
// and addresses safely on a terminal, aligned "label: value" lines, and
// human units for durations and sizes.
#ifndef QUIBEX_TOOLS_QUIBEX_OUTPUT_H_
#define QUIBEX_TOOLS_QUIBEX_OUTPUT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quibex::tool {

// Writes text to stdout as it is (buffered by stdio).
void writeOut(std::string_view text);

// The text with control bytes (below 0x20, and 0x7f) written as \xHH so a
// rule or address cannot disturb the terminal; every other byte is kept.
std::string printable(std::string_view text);

// printable(text) in double quotes.
std::string quoted(std::string_view text);

// printable(text), or "(none)" when text is empty.
std::string orNone(std::string_view text);

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
