// KeyedChains: a compact hash map from a byte-string key to a chain of item
// pointers kept in insertion order.
//
// It backs the element-hiding site index, where a rule is filed under each
// of its sites (the request rules have DomainRuleTable). A real list files
// tens of thousands of keys; a node-based map with a vector per key spends
// well over a hundred bytes per rule on allocator headers, bucket pointers
// and copied keys. Here keys are views into the rules' own text (no copy),
// the bucket table is open-addressed 32-bit slots, and every chain is a
// singly linked list of links (an item and the next link's index) inside
// one pool: about 44 bytes per key plus 12 per item (see bench/ for the
// measurement). A small Bloom filter (two bits of sixteen per key) answers
// most lookups of absent keys without touching the bucket table, which is
// far larger than a CPU cache for the big maps.
#ifndef QUIBEX_ENGINE_KEYED_CHAINS_H_
#define QUIBEX_ENGINE_KEYED_CHAINS_H_

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/byte_hash.h"
#include "engine/table_support.h"

namespace quibex {

// Map from key to an insertion-ordered chain of T pointers (not owned).
//
// REQUIRES: every key passed to append() stays valid and unchanged until
// clear() (the map keeps a view, not a copy).
// Thread-safety: const methods may run concurrently with each other; any
// mutation needs external exclusion.
template <class T>
class KeyedChains {
 public:
  // A key is named by its entry, stable until clear(); kNoEntry names no
  // key.
  static constexpr uint32_t kNoEntry = 0;

  // Iterable view of one chain, valid until the next mutation of the map.
  class Chain {
   public:
    class Iterator {
     public:
      Iterator(const KeyedChains* map, uint32_t link)
          : map_(map), link_(link) {}
      T* operator*() const { return map_->items_[link_]; }
      Iterator& operator++() {
        link_ = map_->next_[link_];
        return *this;
      }
      bool operator!=(const Iterator& other) const {
        return link_ != other.link_;
      }

     private:
      const KeyedChains* map_;  // the map holding the link pool
      uint32_t link_;           // current link, kEndLink at the end
    };
    Chain(const KeyedChains* map, uint32_t head) : map_(map), head_(head) {}
    Iterator begin() const { return Iterator(map_, head_); }
    Iterator end() const { return Iterator(map_, kEndLink); }

   private:
    const KeyedChains* map_;  // the map holding the link pool
    uint32_t head_;           // first link
  };

  KeyedChains() = default;
  KeyedChains(const KeyedChains&) = delete;
  KeyedChains& operator=(const KeyedChains&) = delete;

  // Appends item at the end of key's chain, creating the key if absent.
  // Strong guarantee: if an allocation fails, the map is left unchanged.
  // REQUIRES: hash == hashKey(key).
  void append(std::string_view key, T* item) {
    append(key, hashKey(key), item);
  }
  void append(std::string_view key, uint64_t hash, T* item) {
    assert(hash == hashKey(key));
    const uint32_t entry = find(key, hash);
    reserveMore(entry == kNoEntry ? 1 : 0, 1);
    appendAt(entry, key, hash, item);
  }
  // As append(), in room that reserveMore() made: does not allocate.
  // REQUIRES: hash == hashKey(key); reserveMore() was called with one key
  // and one item more for this call than the appends since have taken.
  void appendReserved(std::string_view key, uint64_t hash, T* item) {
    assert(hash == hashKey(key));
    appendAt(find(key, hash), key, hash, item);
  }

  // Makes room for keys new keys and items new items, so that that many
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

  // The entry of key, or kNoEntry. REQUIRES: hash == hashKey(key).
  uint32_t find(std::string_view key) const { return find(key, hashKey(key)); }
  uint32_t find(std::string_view key, uint64_t hash) const {
    assert(hash == hashKey(key));
    if (slots_.empty() || !mayContain(hash)) return kNoEntry;
    const size_t mask = slots_.size() - 1;
    for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
      const uint32_t entry = slots_[i];
      if (entry == kNoEntry || keyOf(entry) == key) return entry;
    }
  }

  // The items filed under an entry, in filing order.
  // REQUIRES: entry came from find() and is not kNoEntry.
  Chain chain(uint32_t entry) const {
    assert(entry != kNoEntry && entry <= keys_.size());
    return Chain(this, keys_[entry - 1].head);
  }

  // Removes every key and item; the slot table keeps its size.
  void clear() {
    keys_.clear();
    tails_.clear();
    items_.clear();
    next_.clear();
    std::fill(slots_.begin(), slots_.end(), kNoEntry);
    std::fill(bloom_.begin(), bloom_.end(), uint64_t{0});
  }

  // Releases spare capacity of the key and link arrays.
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
    for (uint32_t entry = 1; entry <= keys_.size(); ++entry) {
      uint32_t length = 1;
      for (size_t i = static_cast<size_t>(hashKey(keyOf(entry))) & mask;
           slots_[i] != entry; i = (i + 1) & mask) {
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
  // The end of a chain.
  static constexpr uint32_t kEndLink = UINT32_MAX;

  struct Key {
    const char* data;  // key bytes, owned by the caller
    uint32_t length;   // key length
    uint32_t head;     // first link of the chain
  };

  std::string_view keyOf(uint32_t entry) const {
    const Key& k = keys_[entry - 1];
    return std::string_view(k.data, k.length);
  }

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

  // Files item under the key of entry (kNoEntry: a new key). Does not
  // allocate. REQUIRES: entry == find(key, hash); room was reserved.
  void appendAt(uint32_t entry, std::string_view key, uint64_t hash, T* item) {
    assert(keys_.size() < keys_.capacity() || entry != kNoEntry);
    assert(items_.size() < items_.capacity());
    const uint32_t link = static_cast<uint32_t>(items_.size());
    items_.push_back(item);
    next_.push_back(kEndLink);
    if (entry == kNoEntry) {
      entry = static_cast<uint32_t>(keys_.size()) + 1;
      keys_.push_back(Key{key.data(), static_cast<uint32_t>(key.size()), link});
      tails_.push_back(link);
      placeInSlot(entry, hash);
    } else {
      next_[tails_[entry - 1]] = link;
      tails_[entry - 1] = link;
    }
  }

  void placeInSlot(uint32_t entry, uint64_t hash) {
    const size_t mask = slots_.size() - 1;
    size_t i = static_cast<size_t>(hash) & mask;
    while (slots_[i] != kNoEntry) i = (i + 1) & mask;
    slots_[i] = entry;
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
    std::vector<uint32_t> slots(size, kNoEntry);
    std::vector<uint64_t> bloom(size * 8 / 64, uint64_t{0});
    slots_.swap(slots);
    bloom_.swap(bloom);
    for (uint32_t entry = 1; entry <= keys_.size(); ++entry) {
      placeInSlot(entry, hashKey(keyOf(entry)));
    }
  }

  std::vector<uint32_t> slots_;  // open-addressed: an entry or kNoEntry
  std::vector<uint64_t> bloom_;  // two bits per key, eight bits per slot
  std::vector<Key> keys_;        // entry - 1 -> key, in order of insertion
  std::vector<uint32_t> tails_;  // entry - 1 -> last link of its chain
  std::vector<T*> items_;        // link -> the item ...
  std::vector<uint32_t> next_;   // ... and the next link, kEndLink at the end
};

}  // namespace quibex

#endif  // QUIBEX_ENGINE_KEYED_CHAINS_H_
