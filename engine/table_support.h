// What the engine's two keyed tables share: the key hash, the growth step of
// their arrays and the measure of their probe lengths. DomainRuleTable holds
// the request rules by domain key, KeyedChains the element-hiding site index.
#ifndef QUIBEX_ENGINE_TABLE_SUPPORT_H_
#define QUIBEX_ENGINE_TABLE_SUPPORT_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/byte_hash.h"

namespace quibex {

// The hash used for every domain key lookup. Callers that probe several
// tables with the same key compute it once. It is 64 bits wide on every
// target: a KeyedChains slot index takes its low bits while its Bloom
// filter mixes all of them, and the domain table takes its high bits, so
// every target lays the tables out alike.
inline uint64_t hashKey(std::string_view key) { return hashBytes(key); }

// Makes room in v for extra more elements, growing its capacity by
// doubling so that appends stay amortised constant. Throws bad_alloc,
// leaving v unchanged, when the room cannot be had.
template <class V>
void reserveGeometric(V* v, size_t extra) {
  if (v->size() + extra <= v->capacity()) return;
  v->reserve(std::max(v->size() + extra, v->capacity() * 2));
}

// The slots a lookup of a present key examines, from its home slot to its
// own, over all keys of a table: the most for any key and the sum (for the
// mean).
struct ProbeLengths {
  size_t slots = 0;      // size of the slot table
  uint32_t longest = 0;  // the worst key's probe length
  uint64_t total = 0;    // all keys' probe lengths added up
};

}  // namespace quibex

#endif  // QUIBEX_ENGINE_TABLE_SUPPORT_H_
