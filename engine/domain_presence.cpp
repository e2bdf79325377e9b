// One-word presence filter over the request-rule domain maps; see
// domain_presence.h.
#include "engine/domain_presence.h"

#include <algorithm>

#include "engine/byte_hash.h"
#include "engine/keyed_chains.h"

namespace quibex {
namespace {

constexpr unsigned kLaneBits = 16;

// The word of a hash and the two bits it sets within a lane.
inline size_t wordOf(uint64_t hash, size_t words) {
  return static_cast<size_t>(hash * kHashMultiplier >> 32) & (words - 1);
}
inline uint64_t laneBits(uint64_t hash) {
  const uint64_t mixed = hash * 0xC2B2AE3D27D4EB4Full;
  return (uint64_t{1} << (mixed >> 60)) | (uint64_t{1} << ((mixed >> 56) & 15));
}

}  // namespace

void DomainPresence::rebuild(const DomainFilterMap* const maps[kLanes]) {
  size_t largest = 0;
  for (size_t i = 0; i < kLanes; ++i) {
    largest = std::max(largest, maps[i]->keyCount());
  }
  // About twelve bits per key of the largest map in its lane.
  size_t words = 64;
  while (words * kLaneBits < largest * 12) words *= 2;
  words_.assign(words, 0);
  for (size_t i = 0; i < kLanes; ++i) {
    maps[i]->forEachKey([&](std::string_view key) {
      const uint64_t hash = hashKey(key);
      words_[wordOf(hash, words)] |= laneBits(hash) << (i * kLaneBits);
    });
  }
}

uint32_t DomainPresence::lanes(uint64_t hash) const {
  if (words_.empty()) return (1u << kLanes) - 1;
  const uint64_t word = words_[wordOf(hash, words_.size())];
  const uint64_t bits = laneBits(hash);
  uint32_t out = 0;
  for (size_t i = 0; i < kLanes; ++i) {
    if (((word >> (i * kLaneBits)) & bits) == bits) out |= 1u << i;
  }
  return out;
}

}  // namespace quibex
