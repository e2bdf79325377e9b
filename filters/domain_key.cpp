// The domain key of a pattern or page URL; see domain_key.h.
#include "filters/domain_key.h"

#include <cassert>
#include <cstdint>
#include <cstring>

#include "filters/text_util.h"

namespace quibex {
namespace {

// The key of text, whose first "/" after start is at slash (npos: none).
std::string_view keyBefore(std::string_view text, size_t start, size_t slash) {
  const char* bytes = text.data();
  size_t end = slash;
  if (slash == std::string_view::npos) {
    end = text.size();
    if (isWildcard(bytes[end - 1])) {
      --end;
      if (end > 0 && isWildcard(bytes[end - 1])) --end;
    }
    if (end < start) end = start;
  }

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

}  // namespace

std::string_view domainKeyView(std::string_view text) {
  if (text.empty()) return {};
  const size_t start = skipSchemeAndStars(text);
  const void* slash =
      std::memchr(text.data() + start, '/', text.size() - start);
  return keyBefore(
      text, start,
      slash != nullptr
          ? static_cast<size_t>(static_cast<const char*>(slash) - text.data())
          : std::string_view::npos);
}

std::string_view slashlessDomainKeyView(std::string_view text) {
  assert(text.find('/') == std::string_view::npos);
  if (text.empty()) return {};
  return keyBefore(text, skipSchemeAndStars(text), std::string_view::npos);
}

}  // namespace quibex
