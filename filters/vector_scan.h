// Whether the byte scans (the URL's tokens and windows, the address's host
// and dots, the page's host, the searches of a short literal) take sixteen
// bytes at a time: with SSE2 on x86 (x86-64, and i686 built for Android's
// x86 ABI, which has SSSE3) and with NEON on little-endian arm64,
// QUIBEX_VECTOR_SCAN is defined, the matching intrinsics header is
// included and the byte masks below are defined. Elsewhere (armv7, whose
// softfp ABI assumes no NEON; x86 built without SSE2; big-endian targets)
// it is not, and each scan goes a byte or a word at a time.
#ifndef QUIBEX_FILTERS_VECTOR_SCAN_H_
#define QUIBEX_FILTERS_VECTOR_SCAN_H_

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#define QUIBEX_VECTOR_SCAN 1
#elif defined(__aarch64__) && defined(__ARM_NEON) && \
    defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#include <arm_neon.h>
#define QUIBEX_VECTOR_SCAN 1
#endif

#if defined(QUIBEX_VECTOR_SCAN)
namespace quibex {

// Bit i set when p[i] is c, for the sixteen bytes at p, and no other bit.
inline uint32_t bytesEqual16(const char* p, char c) {
#if defined(__SSE2__)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
#else
  // NEON has no byte mask: each matching byte keeps its own bit of a byte,
  // and the halves' bytes are added across.
  const uint8x16_t bits = {1, 2, 4, 8, 16, 32, 64, 128,
                           1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t kept =
      vandq_u8(vceqq_u8(vld1q_u8(reinterpret_cast<const uint8_t*>(p)),
                        vdupq_n_u8(static_cast<uint8_t>(c))),
               bits);
  return uint32_t{vaddv_u8(vget_low_u8(kept))} |
         uint32_t{vaddv_u8(vget_high_u8(kept))} << 8;
#endif
}

// bytesEqual16() of the sixteen bytes of a text of size bytes from index,
// no bit for a byte past the text's end: bytes near the end are read as
// the sixteen that end the text, the mask shifted down.
// REQUIRES: size >= 16.
inline uint32_t bytesEqual16Near(const char* text, size_t size, size_t index,
                                 char c) {
  if (index >= size) return 0;
  const size_t load = index + 16 <= size ? index : size - 16;
  return bytesEqual16(text + load, c) >> (index - load);
}

}  // namespace quibex
#endif

#endif  // QUIBEX_FILTERS_VECTOR_SCAN_H_
