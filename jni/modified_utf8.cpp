// The modified UTF-8 check; see modified_utf8.h.
#include "jni/modified_utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quibex {

namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// True when the eight bytes at text all stand for themselves (01..7F): no
// high bit set, and no zero byte (the classic test: a byte of word - 0x01..
// borrows into its high bit only where word's byte was zero, given that no
// high bit of word is set).
bool eightPlainBytes(const char* text) {
  uint64_t word;
  std::memcpy(&word, text, sizeof word);
  constexpr uint64_t kHighBits = 0x8080808080808080u;
  constexpr uint64_t kLowBits = 0x0101010101010101u;
  return ((word & kHighBits) | ((word - kLowBits) & ~word & kHighBits)) == 0;
}

}  // namespace

bool isModifiedUtf8(std::string_view text) {
  const size_t size = text.size();
  size_t i = 0;
  while (i < size) {
    // Rule lines are mostly ASCII: eight bytes at a time while they are.
    if (size - i >= 8 && eightPlainBytes(text.data() + i)) {
      i += 8;
      continue;
    }
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead == 0) return false;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (lead >= 0xC0 && lead <= 0xDF) {
      if (i + 1 >= size) return false;
      const unsigned char next = static_cast<unsigned char>(text[i + 1]);
      if (!isContinuation(next)) return false;
      // C0 80 is the VM's NUL; every other C0 / C1 form is overlong.
      if (lead < 0xC2 && !(lead == 0xC0 && next == 0x80)) return false;
      i += 2;
      continue;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
      if (i + 2 >= size) return false;
      const unsigned char second = static_cast<unsigned char>(text[i + 1]);
      const unsigned char third = static_cast<unsigned char>(text[i + 2]);
      if (!isContinuation(second) || !isContinuation(third)) return false;
      if (lead == 0xE0 && second < 0xA0) return false;  // overlong
      i += 3;
      continue;
    }
    return false;  // a continuation byte without a lead, or F0..FF
  }
  return true;
}

}  // namespace quibex
