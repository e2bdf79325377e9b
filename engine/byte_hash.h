// hashBytes: the hash of every key the engine looks up per request (domain
// candidates, URL tokens). It takes eight bytes per multiply; std::hash on
// strings costs about a tenth of a decision's instructions on the real
// workload, this about a third of that. Also the multiplier that the hash,
// the engine's Bloom filters and its open-addressed tables share.
#ifndef QUIBEX_ENGINE_BYTE_HASH_H_
#define QUIBEX_ENGINE_BYTE_HASH_H_

#include <cstdint>
#include <cstring>
#include <string_view>

namespace quibex {

// 2^64 divided by the golden ratio, made odd. Multiplying by it spreads the
// bits of a key over the high bits of the product, which the hash, the
// filters and the open-addressed tables take their positions from.
inline constexpr uint64_t kHashMultiplier = 0x9E3779B97F4A7C15ull;

namespace internal {

inline uint64_t load64(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}
inline uint64_t load32(const char* p) {
  uint32_t word;
  std::memcpy(&word, p, 4);
  return word;
}
inline uint64_t mixIn(uint64_t h, uint64_t word) {
  h = (h ^ word) * 0xff51afd7ed558ccdull;
  return h ^ (h >> 32);
}
// Spreads every input bit over the high bits too: mixIn's last shift
// feeds only the low half, while the domain table takes its slot and tag
// from the top bits.
inline uint64_t finish(uint64_t h) {
  h *= 0xc4ceb9fe1a85ec53ull;
  return h ^ (h >> 29);
}

}  // namespace internal

// Reads only bytes inside the view: short tails are covered by two
// overlapping loads instead of a byte loop.
inline uint64_t hashBytes(std::string_view bytes) {
  using internal::load32;
  using internal::load64;
  using internal::mixIn;
  const char* p = bytes.data();
  size_t n = bytes.size();
  uint64_t h = n * kHashMultiplier;
  if (n > 16) {
    for (; n > 8; p += 8, n -= 8) h = mixIn(h, load64(p));
    h = mixIn(h, load64(p + n - 8));
  } else if (n > 8) {
    // The loop above, run once, without its setup: most domain keys and
    // host candidates are 9 to 16 bytes long.
    h = mixIn(h, load64(p));
    h = mixIn(h, load64(p + n - 8));
  } else if (n >= 4) {
    h = mixIn(h, load32(p) << 32 | load32(p + n - 4));
  } else if (n > 0) {
    const auto byte = [p](size_t i) {
      return uint64_t{static_cast<unsigned char>(p[i])};
    };
    h = mixIn(h, byte(0) << 16 | byte(n >> 1) << 8 | byte(n - 1));
  }
  return internal::finish(h);
}

}  // namespace quibex

#endif  // QUIBEX_ENGINE_BYTE_HASH_H_
