// DomainPresence: which of the four request-rule domain maps may hold a
// key, read from one memory word.
//
// A decision looks every domain candidate of the request's host up in four
// maps, and most candidates are in none of them. Each map has a filter of
// its own, but asking four filters costs four memory accesses per
// candidate; this filter keeps a 16-bit lane per map in each 64-bit word,
// so one access answers for all four.
#ifndef QUIBEX_ENGINE_DOMAIN_PRESENCE_H_
#define QUIBEX_ENGINE_DOMAIN_PRESENCE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/domain_filter_map.h"

namespace quibex {

// Thread-safety: none; the engine mutex guards every call.
class DomainPresence {
 public:
  // One lane per domain map of the block decision, each map in the lane
  // the engine's container table gives it; four 16-bit lanes fill a word.
  static constexpr size_t kLanes = 4;

  DomainPresence() = default;
  DomainPresence(const DomainPresence&) = delete;
  DomainPresence& operator=(const DomainPresence&) = delete;

  // Rebuilds the filter from the keys of the maps, lane i for maps[i].
  void rebuild(const DomainFilterMap* const maps[kLanes]);
  void clear() { words_.clear(); }

  // Bit i is set when maps[i] may hold a key of this hash (hashKey());
  // every bit when the filter is empty (not built).
  uint32_t lanes(uint64_t hash) const;

  size_t memoryBytes() const { return words_.capacity() * sizeof(uint64_t); }

 private:
  std::vector<uint64_t> words_;  // four 16-bit lanes each, two bits per key
};

}  // namespace quibex

#endif  // QUIBEX_ENGINE_DOMAIN_PRESENCE_H_
