// Greedy, allocation-free wildcard matching; see wildcard.h.
#include "filters/wildcard.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

namespace quibex {
namespace {

constexpr size_t kNone = std::string_view::npos;

// A needle up to this length, or a search whose worst case byte by byte
// is at most kShortSearch comparisons, is searched byte by byte: no set-up,
// and at most this many comparisons per text byte.
constexpr size_t kShortNeedle = 32;
constexpr size_t kShortSearch = 16384;

// The critical factorisation of needle for the two-way search: the start
// of its maximal suffix under the byte order (or its reverse, whichever
// starts later) and that suffix's period.
struct Factorisation {
  size_t split;   // the maximal suffix starts at split + 1 (split may be -1)
  size_t period;  // period of the suffix
};

Factorisation maximalSuffix(std::string_view needle, bool reversed) {
  const size_t n = needle.size();
  size_t ip = static_cast<size_t>(-1);  // start of the best suffix, minus 1
  size_t jp = 0;                        // start of the challenger, minus 1
  size_t k = 1;
  size_t p = 1;
  while (jp + k < n) {
    const unsigned char a = static_cast<unsigned char>(needle[ip + k]);
    const unsigned char b = static_cast<unsigned char>(needle[jp + k]);
    if (a == b) {
      if (k == p) {
        jp += p;
        k = 1;
      } else {
        ++k;
      }
    } else if (reversed ? a < b : a > b) {
      jp += k;
      k = 1;
      p = jp - ip;
    } else {
      ip = jp++;
      k = p = 1;
    }
  }
  return Factorisation{ip, p};
}

// Crochemore and Perrin's two-way search with a last-byte skip: at most
// about 2 * text.size() comparisons, constant extra space.
// REQUIRES: needle.size() >= 2.
size_t twoWayFind(std::string_view text, size_t from, std::string_view needle) {
  const size_t l = needle.size();
  const Factorisation forward = maximalSuffix(needle, false);
  const Factorisation backward = maximalSuffix(needle, true);
  const Factorisation f =
      backward.split + 1 > forward.split + 1 ? backward : forward;
  const size_t ms = f.split;  // the right half starts at ms + 1
  size_t p = f.period;
  size_t memory0 = 0;  // prefix known to match after a periodic shift
  if (needle.compare(0, ms + 1, needle.substr(p, ms + 1)) != 0) {
    p = std::max(ms + 1, l - ms - 1) + 1;
  } else {
    memory0 = l - p;
  }
  // The distance from each byte's last place in needle to needle's end.
  size_t shift[256];
  for (size_t& s : shift) s = l;
  for (size_t i = 0; i < l; ++i) {
    shift[static_cast<unsigned char>(needle[i])] = l - 1 - i;
  }
  const char* n = needle.data();
  size_t memory = 0;  // bytes at the start of the window known to match
  for (size_t h = from; text.size() - h >= l;) {
    const char* w = text.data() + h;
    const size_t skip = shift[static_cast<unsigned char>(w[l - 1])];
    if (skip != 0) {
      h += std::max(skip, memory);
      memory = 0;
      continue;
    }
    size_t k = std::max(ms + 1, memory);
    while (k < l && n[k] == w[k]) ++k;
    if (k < l) {
      h += k - ms;
      memory = 0;
      continue;
    }
    k = ms + 1;
    while (k > memory && n[k - 1] == w[k - 1]) --k;
    if (k <= memory) return h;
    h += p;
    memory = memory0;
  }
  return kNone;
}

// text.find(needle, from) byte by byte: each place of needle's first byte,
// found by memchr, is checked at its last byte before the bytes between,
// so that a text full of the first byte ("/" in a URL) costs no
// comparison call per place. REQUIRES: from <= text.size(), needle.size()
// >= 2.
size_t findByFirstAndLast(std::string_view text, size_t from,
                          std::string_view needle) {
  const size_t m = needle.size();
  if (text.size() - from < m) return kNone;
  const char* const base = text.data();
  const char* const lastStart = base + (text.size() - m);
  const char first = needle[0];
  const char last = needle[m - 1];
  for (const char* p = base + from;; ++p) {
    p = static_cast<const char*>(
        std::memchr(p, first, static_cast<size_t>(lastStart - p) + 1));
    if (p == nullptr) return kNone;
    if (p[m - 1] == last && std::memcmp(p + 1, needle.data() + 1, m - 2) == 0) {
      return static_cast<size_t>(p - base);
    }
    if (p == lastStart) return kNone;
  }
}

}  // namespace

size_t findLiteral(std::string_view text, size_t from,
                   std::string_view needle) {
  if (from > text.size()) return kNone;
  if (needle.size() < 2) return text.find(needle, from);
  if (needle.size() <= kShortNeedle) {
    return findByFirstAndLast(text, from, needle);
  }
  const size_t rest = text.size() - from;
  if (rest < needle.size()) return kNone;
  if ((rest - needle.size() + 1) * needle.size() <= kShortSearch) {
    return findByFirstAndLast(text, from, needle);
  }
  return twoWayFind(text, from, needle);
}

size_t findPiece(std::string_view text, size_t from, std::string_view piece) {
  if (piece.find('^') == std::string_view::npos) {
    const size_t start = findLiteral(text, from, piece);
    return start == kNone ? kNone : start + piece.size();
  }
  // The longest run without "^": every match of the piece places it at
  // its own offset from the match's start (a "^" takes no byte only at the
  // end of the text, after which no literal byte can match).
  size_t runStart = 0;
  size_t runSize = 0;
  for (size_t i = 0; i < piece.size();) {
    const size_t caret = std::min(piece.find('^', i), piece.size());
    if (caret - i > runSize) {
      runStart = i;
      runSize = caret - i;
    }
    i = caret + 1;
  }
  if (runSize == 0) {  // carets only
    for (size_t start = from; start <= text.size(); ++start) {
      const size_t end = matchPieceAt(text, start, piece);
      if (end != kNone) return end;
    }
    return kNone;
  }
  const std::string_view run = piece.substr(runStart, runSize);
  for (size_t at = from + runStart;; ++at) {
    at = findLiteral(text, at, run);
    if (at == kNone) return kNone;
    const size_t end = matchPieceAt(text, at - runStart, piece);
    if (end != kNone) return end;
  }
}

bool wildcardMatch(std::string_view text, std::string_view pattern) {
  // Most patterns a decision tries begin with their star.
  const size_t firstStar =
      !pattern.empty() && pattern[0] == '*' ? 0 : pattern.find('*');
  if (firstStar == kNone) return matchPieceAt(text, 0, pattern) == text.size();

  // The piece before the first star is anchored at the start of the text.
  size_t pos = matchPieceAt(text, 0, pattern.substr(0, firstStar));
  if (pos == kNone) return false;

  // Pieces between stars: leftmost placement is optimal. The loop ends at
  // the last star, the one with no star after it.
  size_t star = firstStar;
  for (size_t next; (next = pattern.find('*', star + 1)) != kNone;
       star = next) {
    const std::string_view piece = pattern.substr(star + 1, next - star - 1);
    if (!piece.empty()) {
      pos = findPiece(text, pos, piece);
      if (pos == kNone) return false;
    }
  }

  // The piece after the last star must end exactly at the end of the text;
  // it consumes at most its own length.
  const std::string_view last = pattern.substr(star + 1);
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
