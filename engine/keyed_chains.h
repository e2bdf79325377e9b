// KeyedChains: a compact hash map from a byte-string key to a chain of item
// pointers kept in insertion order.
//
// It backs the element-hiding site index, where a rule is filed under each
// of its sites (the request rules have DomainRuleTable). A real list files
// tens of thousands of keys; a node-based map with a vector per key spends well over a
// hundred bytes per rule on allocator headers, bucket pointers and copied
// keys. Here keys are views into the rules' own text (no copy), the bucket
// table is open-addressed 32-bit slots, and every chain is a singly linked
// list of 16-byte entries inside one pool, linked by index: about 44 bytes
// per key plus 16 per item (see bench/ for the measurement). A small Bloom
// filter (two bits of sixteen per key) answers most lookups of absent keys
// without touching the bucket table, which is far larger than a CPU cache
// for the big maps.
#ifndef QUIBEX_ENGINE_KEYED_CHAINS_H_
#define QUIBEX_ENGINE_KEYED_CHAINS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

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
// own, over all keys of a map: the most for any key and the sum (for the
// mean).
struct ProbeLengths {
  size_t slots = 0;      // size of the slot table
  uint32_t longest = 0;  // the worst key's probe length
  uint64_t total = 0;    // all keys' probe lengths added up
};

// Map from key to an insertion-ordered chain of T pointers (not owned).
//
// REQUIRES: every key passed to append() stays valid and unchanged until
// clear() (the map keeps a view, not a copy).
// Thread-safety: const methods may run concurrently with each other; any
// mutation needs external exclusion.
template <class T>
class KeyedChains {
 public:
  static constexpr uint32_t kNoChain = UINT32_MAX;

  // Iterable view of one chain, valid until the next mutation of the map.
  class Chain {
   public:
    class Iterator {
     public:
      Iterator(const KeyedChains* map, uint32_t entry)
          : map_(map), entry_(entry) {}
      T* operator*() const { return map_->items_[entry_]; }
      Iterator& operator++() {
        entry_ = map_->next_[entry_];
        return *this;
      }
      bool operator!=(const Iterator& other) const {
        return entry_ != other.entry_;
      }

     private:
      const KeyedChains* map_;  // the map holding the entry pool
      uint32_t entry_;          // current entry index, kNoChain at the end
    };
    Chain(const KeyedChains* map, uint32_t head) : map_(map), head_(head) {}
    Iterator begin() const { return Iterator(map_, head_); }
    Iterator end() const { return Iterator(map_, kNoChain); }

   private:
    const KeyedChains* map_;  // the map holding the entry pool
    uint32_t head_;           // first entry index
  };

  KeyedChains() = default;
  KeyedChains(const KeyedChains&) = delete;
  KeyedChains& operator=(const KeyedChains&) = delete;

  // Appends item at the end of key's chain, creating the key if absent.
  // Strong guarantee: if an allocation fails, the map is left unchanged.
  void append(std::string_view key, T* item) {
    append(key, hashKey(key), item);
  }
  void append(std::string_view key, uint64_t hash, T* item) {
    uint32_t chain = find(key, hash);
    reserveMore(chain == kNoChain ? 1 : 0, 1);
    // Nothing below allocates.
    const uint32_t entry = static_cast<uint32_t>(items_.size());
    items_.push_back(item);
    next_.push_back(kNoChain);
    if (chain == kNoChain) {
      chain = static_cast<uint32_t>(keys_.size());
      keys_.push_back(Key{key.data(), static_cast<uint32_t>(key.size()), entry});
      tails_.push_back(entry);
      placeInSlot(chain, hash);
    } else {
      next_[tails_[chain]] = entry;
      tails_[chain] = entry;
    }
  }

  // Makes room for keys new keys and items new entries, so that that many
  // append() calls cannot fail. Throws bad_alloc (leaving the map's
  // contents unchanged) when the room cannot be had.
  void reserveMore(size_t keys, size_t items) {
    const size_t keyTotal = keys_.size() + keys;
    if (keyTotal * 4 > slots_.size() * 3) grow(keyTotal);
    reserveGeometric(&keys_, keys);
    reserveGeometric(&tails_, keys);
    reserveGeometric(&items_, items);
    reserveGeometric(&next_, items);
  }

  // Index of key's chain (stable until clear()), or kNoChain.
  uint32_t find(std::string_view key) const { return find(key, hashKey(key)); }
  uint32_t find(std::string_view key, uint64_t hash) const {
    if (slots_.empty() || !mayContain(hash)) return kNoChain;
    return probe(key, hash);
  }
  // The same without the map's own filter, for callers that have already
  // asked a filter of their own. REQUIRES: hash == hashKey(key).
  uint32_t findUnfiltered(std::string_view key, uint64_t hash) const {
    if (slots_.empty()) return kNoChain;
    return probe(key, hash);
  }

  // The key of each chain, in order of first insertion.
  template <class F>
  void forEachKey(F&& f) const {
    for (uint32_t k = 0; k < keys_.size(); ++k) f(key(k));
  }

  // The chain with the given index. REQUIRES: index came from find().
  Chain chain(uint32_t index) const { return Chain(this, keys_[index].head); }
  std::string_view key(uint32_t index) const {
    return std::string_view(keys_[index].data, keys_[index].length);
  }

 private:
  uint32_t probe(std::string_view key, uint64_t hash) const {
    const size_t mask = slots_.size() - 1;
    for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
      const uint32_t slot = slots_[i];
      if (slot == 0) return kNoChain;
      const Key& k = keys_[slot - 1];
      if (k.length == key.size() &&
          std::string_view(k.data, k.length) == key) {
        return slot - 1;
      }
    }
  }

 public:
  // Removes every key and entry; the slot table keeps its size.
  void clear() {
    keys_.clear();
    tails_.clear();
    items_.clear();
    next_.clear();
    std::fill(slots_.begin(), slots_.end(), 0u);
    std::fill(bloom_.begin(), bloom_.end(), uint64_t{0});
  }

  // Releases spare capacity of the key and entry arrays.
  void shrinkToFit() {
    keys_.shrink_to_fit();
    tails_.shrink_to_fit();
    items_.shrink_to_fit();
    next_.shrink_to_fit();
  }

  size_t keyCount() const { return keys_.size(); }
  size_t itemCount() const { return items_.size(); }

  // How far the present keys lie from their home slots.
  ProbeLengths probeLengths() const {
    ProbeLengths lengths;
    lengths.slots = slots_.size();
    const size_t mask = slots_.size() - 1;
    for (uint32_t k = 0; k < keys_.size(); ++k) {
      uint32_t length = 1;
      for (size_t i = static_cast<size_t>(hashKey(key(k))) & mask;
           slots_[i] != k + 1; i = (i + 1) & mask) {
        ++length;
      }
      lengths.longest = std::max(lengths.longest, length);
      lengths.total += length;
    }
    return lengths;
  }
  // Heap bytes held by the map's arrays.
  size_t memoryBytes() const {
    return slots_.capacity() * sizeof(uint32_t) +
           bloom_.capacity() * sizeof(uint64_t) +
           keys_.capacity() * sizeof(Key) +
           tails_.capacity() * sizeof(uint32_t) +
           items_.capacity() * sizeof(T*) + next_.capacity() * sizeof(uint32_t);
  }

 private:
  struct Key {
    const char* data;  // key bytes, owned by the caller
    uint32_t length;   // key length
    uint32_t head;     // first entry of the chain
  };

  // The filter word and its two bits for a key's hash. Both bits lie in
  // one 64-bit word, so a lookup costs one memory access. The filter has
  // eight bits per slot, so eleven to twenty-one per key.
  uint64_t bloomWord(uint64_t hash, size_t* word) const {
    const uint64_t mixed = hash * kHashMultiplier;
    *word = static_cast<size_t>(mixed >> 32) & (bloom_.size() - 1);
    return (uint64_t{1} << (mixed & 63)) | (uint64_t{1} << ((mixed >> 6) & 63));
  }
  bool mayContain(uint64_t hash) const {
    size_t word;
    const uint64_t bits = bloomWord(hash, &word);
    return (bloom_[word] & bits) == bits;
  }

  void placeInSlot(uint32_t chain, uint64_t hash) {
    const size_t mask = slots_.size() - 1;
    size_t i = static_cast<size_t>(hash) & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = chain + 1;
    size_t word;
    const uint64_t bits = bloomWord(hash, &word);
    bloom_[word] |= bits;
  }

  // Doubles the slot table until it holds keys at most three-quarters
  // full, and places every key anew. The new tables are built aside, so a
  // failed allocation leaves the map as it was.
  void grow(size_t keys) {
    size_t size = slots_.empty() ? 16 : slots_.size() * 2;
    while (keys * 4 > size * 3) size *= 2;
    std::vector<uint32_t> slots(size, 0u);
    std::vector<uint64_t> bloom(size * 8 / 64, uint64_t{0});
    slots_.swap(slots);
    bloom_.swap(bloom);
    for (uint32_t k = 0; k < keys_.size(); ++k) placeInSlot(k, hashKey(key(k)));
  }


  std::vector<uint32_t> slots_;  // open-addressed: key index + 1, 0 = empty
  std::vector<uint64_t> bloom_;  // two bits per key, eight bits per slot
  std::vector<Key> keys_;        // one per key, in order of first insertion
  std::vector<uint32_t> tails_;  // last entry of each key's chain
  std::vector<T*> items_;        // chain entries: the item ...
  std::vector<uint32_t> next_;   // ... and the next entry, kNoChain at the end
};

}  // namespace quibex

#endif  // QUIBEX_ENGINE_KEYED_CHAINS_H_
