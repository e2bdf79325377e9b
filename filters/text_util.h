// Small byte-string helpers shared by the rule parsers and matchers. All of
// them are byte-wise and case-sensitive.
#ifndef QUIBEX_FILTERS_TEXT_UTIL_H_
#define QUIBEX_FILTERS_TEXT_UTIL_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace quibex {

// Whether a word loaded from memory holds its first byte lowest: the
// eight-bytes-at-a-time scans run only then (their byte loops otherwise).
inline constexpr bool kLittleEndian =
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    true;
#else
    false;
#endif

// The high bit of each byte of word that equals c, and no other bit.
inline uint64_t bytesEqual(uint64_t word, char c) {
  constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fu;
  const uint64_t x =
      word ^ (0x0101010101010101u * static_cast<unsigned char>(c));
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// Nonzero when some byte of word equals c, zero when none does: exact
// whether, though not where (a cheaper test than bytesEqual's for scans
// that only ask whether a word holds one of a few bytes).
inline uint64_t holdsByte(uint64_t word, char c) {
  const uint64_t x =
      word ^ (0x0101010101010101u * static_cast<unsigned char>(c));
  return (x - 0x0101010101010101u) & ~x & 0x8080808080808080u;
}

// Whether the n bytes at a and at b are equal, compared as two Words of
// each that overlap where n is less than two Words.
// REQUIRES: sizeof(Word) <= n <= 2 * sizeof(Word).
template <class Word>
inline bool sameByOverlappingWords(const char* a, const char* b, size_t n) {
  Word a0, a1, b0, b1;
  std::memcpy(&a0, a, sizeof(Word));
  std::memcpy(&b0, b, sizeof(Word));
  std::memcpy(&a1, a + n - sizeof(Word), sizeof(Word));
  std::memcpy(&b1, b + n - sizeof(Word), sizeof(Word));
  return ((a0 ^ b0) | (a1 ^ b1)) == 0;
}

// Whether the n bytes at a and at b are equal, for the 4 to 16 bytes most
// keys and host labels are: two overlapping loads of each, without a call.
// REQUIRES: 4 <= n <= 16.
inline bool sameBytes4To16(const char* a, const char* b, size_t n) {
  return n >= 8 ? sameByOverlappingWords<uint64_t>(a, b, n)
                : sameByOverlappingWords<uint32_t>(a, b, n);
}

// Whether the n bytes at a and at b are equal. Up to sixteen bytes are
// compared without a call; more by memcmp.
inline bool sameBytes(const char* a, const char* b, size_t n) {
  if (n > 16) return std::memcmp(a, b, n) == 0;
  if (n >= 4) return sameBytes4To16(a, b, n);
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

inline bool startsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         text.compare(0, prefix.size(), prefix) == 0;
}

// True when suffix is not longer than text and equals its last characters.
inline bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

inline bool contains(std::string_view text, std::string_view needle) {
  return text.find(needle) != std::string_view::npos;
}

// The two pattern wildcards: "*" (any run) and "^" (a separator or the end).
inline bool isWildcard(char c) { return c == '*' || c == '^'; }

// The length of text's leading "https://" or "http://", else 0.
inline size_t commonSchemeLength(std::string_view text) {
  if (startsWith(text, "https://")) return 8;
  if (startsWith(text, "http://")) return 7;
  return 0;
}

// Where a domain or site key starts looking: after at most two leading "*",
// and after an "http://" or "https://" that stands right there.
inline size_t skipSchemeAndStars(std::string_view text) {
  size_t start = 0;
  while (start < 2 && start < text.size() && text[start] == '*') ++start;
  if (start < text.size() && text[start] == 'h') {
    const std::string_view rest = text.substr(start);
    if (startsWith(rest, "http://")) {
      start += 7;
    } else if (startsWith(rest, "https://")) {
      start += 8;
    }
  }
  return start;
}

// Keeps a key candidate only when it is host-like: non-empty, with a dot,
// and neither beginning nor ending with a dot.
inline std::string_view hostLikeOrEmpty(std::string_view candidate) {
  if (candidate.empty() || candidate.front() == '.' ||
      candidate.back() == '.' ||
      candidate.find('.') == std::string_view::npos) {
    return {};
  }
  return candidate;
}

}  // namespace quibex

#endif  // QUIBEX_FILTERS_TEXT_UTIL_H_
