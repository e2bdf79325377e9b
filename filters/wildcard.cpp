// Greedy, allocation-free wildcard matching; see wildcard.h.
#include "filters/wildcard.h"

#include <array>
#include <cstddef>

namespace quibex {
namespace {

constexpr size_t kNone = std::string_view::npos;

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

constexpr std::array<bool, 256> kSeparator = makeSeparatorTable();

}  // namespace

size_t matchPieceAt(std::string_view text, size_t from,
                    std::string_view piece) {
  size_t t = from;
  const size_t n = text.size();
  for (const char p : piece) {
    if (p == '^') {
      if (t == n) continue;
      if (!kSeparator[static_cast<unsigned char>(text[t])]) return kNone;
      ++t;
    } else {
      if (t == n || text[t] != p) return kNone;
      ++t;
    }
  }
  return t;
}

namespace {

// Finds the leftmost start at or after from where the piece matches and
// returns the position after that match, or kNone.
size_t findPiece(std::string_view text, size_t from, std::string_view piece) {
  const size_t caret = piece.find('^');
  const std::string_view literal = piece.substr(0, caret);
  if (literal.empty()) {
    for (size_t start = from; start <= text.size(); ++start) {
      const size_t end = matchPieceAt(text, start, piece);
      if (end != kNone) return end;
    }
    return kNone;
  }
  const std::string_view rest = piece.substr(literal.size());
  for (size_t start = from;; ++start) {
    start = text.find(literal, start);
    if (start == kNone) return kNone;
    const size_t end = matchPieceAt(text, start + literal.size(), rest);
    if (end != kNone) return end;
  }
}

}  // namespace

bool isSeparator(unsigned char c) { return kSeparator[c]; }

bool wildcardMatch(std::string_view text, std::string_view pattern) {
  const size_t firstStar = pattern.find('*');
  if (firstStar == kNone) return matchPieceAt(text, 0, pattern) == text.size();

  // The piece before the first star is anchored at the start of the text.
  size_t pos = matchPieceAt(text, 0, pattern.substr(0, firstStar));
  if (pos == kNone) return false;

  // Pieces between stars: leftmost placement is optimal.
  const size_t lastStar = pattern.rfind('*');
  for (size_t star = firstStar; star != lastStar;) {
    const size_t next = pattern.find('*', star + 1);
    const std::string_view piece = pattern.substr(star + 1, next - star - 1);
    if (!piece.empty()) {
      pos = findPiece(text, pos, piece);
      if (pos == kNone) return false;
    }
    star = next;
  }

  // The piece after the last star must end exactly at the end of the text;
  // it consumes at most its own length.
  const std::string_view last = pattern.substr(lastStar + 1);
  if (last.empty()) return true;
  const size_t n = text.size();
  size_t start = pos;
  if (n > last.size() && n - last.size() > start) start = n - last.size();
  for (; start <= n; ++start) {
    if (matchPieceAt(text, start, last) == n) return true;
  }
  return false;
}

}  // namespace quibex
