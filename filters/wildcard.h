// Wildcard matching of a whole URL against a whole request-rule pattern.
//
// "*" matches any run of bytes (the empty run included), "^" matches one
// separator byte or the end of the text, and every other byte matches
// itself; "|" inside a pattern is an ordinary byte. Separators are all bytes
// except ASCII letters, digits, "-", "." and "%".
#ifndef QUIBEX_FILTERS_WILDCARD_H_
#define QUIBEX_FILTERS_WILDCARD_H_

#include <array>
#include <cstddef>
#include <string_view>

namespace quibex {

// The separator bytes as a table. isSeparator() and matchPieceAt() are
// inline: the request path's piece checks call them for most candidates.
namespace internal {
constexpr std::array<bool, 256> makeSeparatorTable() {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const bool word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                      (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                      c == '%';
    table[static_cast<size_t>(c)] = !word;
  }
  return table;
}
inline constexpr std::array<bool, 256> kSeparator = makeSeparatorTable();
}  // namespace internal

// True when the pattern's placeholder "^" accepts byte c.
inline bool isSeparator(unsigned char c) { return internal::kSeparator[c]; }

// Matches a piece of a pattern (no "*") at text position from, "^" taking
// nothing at the end of the text. Returns the position after the match,
// or std::string_view::npos when the piece does not match there.
inline size_t matchPieceAt(std::string_view text, size_t from,
                           std::string_view piece) {
  size_t t = from;
  const size_t n = text.size();
  for (const char p : piece) {
    if (p == '^') {
      if (t == n) continue;
      if (!isSeparator(static_cast<unsigned char>(text[t]))) {
        return std::string_view::npos;
      }
      ++t;
    } else {
      if (t == n || text[t] != p) return std::string_view::npos;
      ++t;
    }
  }
  return t;
}

// Finds the leftmost start at or after from where the piece (no "*")
// matches and returns the position after that match, or
// std::string_view::npos.
//
// Allocates nothing. The piece is found by its longest run without "^",
// searched in time linear in the text's length (a two-way search when the
// run is long); each place the run occurs is then checked as a whole piece.
// A piece without "^" therefore costs O(text + piece); one with "^" at most
// the run's occurrences times the piece's length.
size_t findPiece(std::string_view text, size_t from, std::string_view piece);

// The leftmost start at or after from where needle occurs in text, or
// std::string_view::npos. Linear in text.size() + needle.size() whatever
// the bytes; allocates nothing.
size_t findLiteral(std::string_view text, size_t from, std::string_view needle);

// True when the whole text matches the whole pattern.
//
// Allocates nothing and does not recurse. The pieces between stars are
// placed greedily at their leftmost possible position, which is exact for
// this pattern language (no piece can match more than its own length, and
// the earliest start gives the earliest end), each found with findPiece.
bool wildcardMatch(std::string_view text, std::string_view pattern);

}  // namespace quibex

#endif  // QUIBEX_FILTERS_WILDCARD_H_
