// The domain key of a pattern or page URL; see domain_key.h.
#include "filters/domain_key.h"

#include <cassert>
#include <cstdint>
#include <cstring>

#include "filters/text_util.h"

namespace quibex {
namespace {

// The key of the text's span [start, end) when the span holds a wildcard.
__attribute__((noinline)) std::string_view keyAfterWildcard(
    std::string_view text, size_t start, size_t end) {
  const char* bytes = text.data();
  // Only the last wildcard before end and the dots after it decide the
  // key: it starts behind the first dot after that wildcard (at start when
  // there is no wildcard) and needs a dot of its own beyond that. So the
  // scan runs back from end and stops at the first wildcard it meets.
  size_t firstDot = end;  // the first dot after the last wildcard
  size_t dots = 0;        // dots after the last wildcard, counted up to 2
  bool wildcard = false;
  size_t i = end;
  if (kLittleEndian) {
    // Eight bytes at a time while eight lie before i; the bytes before
    // start are masked out.
    for (; i >= 8 && i > start; i -= 8) {
      uint64_t word;
      std::memcpy(&word, bytes + i - 8, 8);
      const size_t below = start > i - 8 ? start - (i - 8) : 0;
      const uint64_t valid = ~uint64_t{0} << (8 * below);
      const uint64_t wild =
          (bytesEqual(word, '*') | bytesEqual(word, '^')) & valid;
      uint64_t dot = bytesEqual(word, '.') & valid;
      if (wild != 0) {
        // Only the dots after the last wildcard of the word count.
        const unsigned last = (63 - __builtin_clzll(wild)) / 8;
        dot &= last == 7 ? 0 : ~uint64_t{0} << (8 * (last + 1));
        wildcard = true;
      }
      if (dot != 0) {
        dots += (dot & (dot - 1)) != 0 ? 2 : 1;
        firstDot = i - 8 + __builtin_ctzll(dot) / 8;
      }
      if (wildcard || below != 0) {
        i = start;
        break;
      }
    }
  }
  while (i > start) {
    const char c = bytes[--i];
    if (c == '.') {
      firstDot = i;
      ++dots;
    } else if (isWildcard(c)) {
      wildcard = true;
      break;
    }
  }
  const size_t keyStart = wildcard ? firstDot + 1 : start;
  const bool dotInKey = dots > (wildcard ? 1u : 0u);
  if (!dotInKey || keyStart >= end || bytes[keyStart] == '.' ||
      bytes[end - 1] == '.') {
    return {};
  }
  return text.substr(keyStart, end - keyStart);
}

// Where the key of a text without a "/" ends: before at most two wildcards
// that end the text, and not before start. REQUIRES: text is not empty.
inline size_t keyEnd(std::string_view text, size_t start) {
  size_t end = text.size();
  if (isWildcard(text[end - 1])) {
    --end;
    if (end > 0 && isWildcard(text[end - 1])) --end;
  }
  return end < start ? start : end;
}

// The key of the text's span [start, end): a span without a wildcard (as
// nearly every key is) is the key whole when it holds a dot and neither
// begins nor ends with one. Whether it holds a wildcard or a dot is told a
// word at a time, each byte read once, the last word overlapping the one
// before it; only a span with a wildcard needs the places of its dots.
inline std::string_view keyOfSpan(std::string_view text, size_t start,
                                  size_t end) {
  const char* bytes = text.data();
  uint64_t dot = 0;
  if (end - start >= 8) {
    for (size_t i = start;; i += 8) {
      const bool last = end - i <= 8;
      if (last) i = end - 8;
      uint64_t word;
      std::memcpy(&word, bytes + i, 8);
      if ((holdsByte(word, '*') | holdsByte(word, '^')) != 0) {
        return keyAfterWildcard(text, start, end);
      }
      dot |= holdsByte(word, '.');
      if (last) break;
    }
  } else {
    for (size_t i = start; i < end; ++i) {
      if (isWildcard(bytes[i])) return keyAfterWildcard(text, start, end);
      dot |= bytes[i] == '.';
    }
  }
  if (dot == 0 || bytes[start] == '.' || bytes[end - 1] == '.') return {};
  return text.substr(start, end - start);
}

}  // namespace

std::string_view domainKeyView(std::string_view text) {
  if (text.empty()) return {};
  const size_t start = skipSchemeAndStars(text);
  const void* slash =
      std::memchr(text.data() + start, '/', text.size() - start);
  if (slash == nullptr) return keyOfSpan(text, start, keyEnd(text, start));
  return keyOfSpan(
      text, start,
      static_cast<size_t>(static_cast<const char*>(slash) - text.data()));
}

std::string_view slashlessDomainKeyView(std::string_view text) {
  assert(text.find('/') == std::string_view::npos);
  if (text.empty()) return {};
  const size_t start = skipSchemeAndStars(text);
  return keyOfSpan(text, start, keyEnd(text, start));
}

}  // namespace quibex
