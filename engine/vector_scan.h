// Whether the engine's byte scans (the URL's tokens and windows, the
// address's host and dots) take sixteen bytes at a time: with SSE2 on x86
// (x86-64, and i686 built for Android's x86 ABI, which has SSSE3) and with
// NEON on little-endian arm64, QUIBEX_VECTOR_SCAN is defined and the
// matching intrinsics header is included. Elsewhere (armv7, whose softfp
// ABI assumes no NEON; x86 built without SSE2; big-endian targets) it is
// not, and each scan goes a byte or a word at a time.
#ifndef QUIBEX_ENGINE_VECTOR_SCAN_H_
#define QUIBEX_ENGINE_VECTOR_SCAN_H_

#if defined(__SSE2__)
#include <emmintrin.h>
#define QUIBEX_VECTOR_SCAN 1
#elif defined(__aarch64__) && defined(__ARM_NEON) && \
    defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#include <arm_neon.h>
#define QUIBEX_VECTOR_SCAN 1
#endif

#endif  // QUIBEX_ENGINE_VECTOR_SCAN_H_
