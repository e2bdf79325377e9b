// DomainRuleTable: every request rule that has a domain key, of all the
// engine's keyed request containers, in one open-addressed table keyed by
// that domain key.
//
// A real list files about a hundred thousand rules under about as many
// keys, and 98 % of the keys hold a single rule. A map per container spent
// some 45 bytes per key on key records, chain entries and slot tables, and
// a decision probed each container's map (or a presence filter in front of
// them) for every host candidate. Here one probe per candidate answers for
// every container at once:
//   - a slot is 8 bytes: 32 bits of the key's hash and a 32-bit reference;
//   - the reference names the key's only rule directly, with the lane (the
//     container) it was filed in, or a group whose chain lists the key's
//     rules of every lane in filing order;
//   - the key bytes are not stored: they are read from the rule's own text
//     (domainKeyView()) when the hash bits agree.
// Rules are named by their id, their index in the engine's owning vector.
#ifndef QUIBEX_ENGINE_DOMAIN_RULE_TABLE_H_
#define QUIBEX_ENGINE_DOMAIN_RULE_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/keyed_chains.h"

namespace quibex {

class RequestFilter;

// Thread-safety: const methods may run concurrently with each other; any
// mutation needs external exclusion (the engine mutex).
class DomainRuleTable {
 public:
  // Lanes a table can hold; a lane is one keyed container.
  static constexpr uint32_t kLanes = 8;
  // The reference of an absent key.
  static constexpr uint32_t kNone = 0;
  // Rule ids must stay below this.
  static constexpr uint32_t kMaxRules = (1u << 28) - 1;

  // The rules of one lane under one key, in filing order; iterate with a
  // range for. Valid until the table is next modified.
  class Chain {
   public:
    class Iterator {
     public:
      const RequestFilter* operator*() const;
      Iterator& operator++();
      bool operator!=(const Iterator& other) const {
        return word_ != other.word_;
      }

     private:
      friend class Chain;
      Iterator(const DomainRuleTable* table, uint32_t lane, uint32_t word,
               uint32_t next);
      // Steps over rules of other lanes.
      void settle();

      const DomainRuleTable* table_;  // the table holding the chain
      uint32_t lane_;                 // the lane iterated
      uint32_t word_;                 // current rule word, kEndWord at the end
      uint32_t next_;                 // entry after it, kEndEntry at none
    };

    Iterator begin() const;
    Iterator end() const;

   private:
    friend class DomainRuleTable;
    Chain(const DomainRuleTable* table, uint32_t ref, uint32_t lane)
        : table_(table), ref_(ref), lane_(lane) {}

    const DomainRuleTable* table_;  // the table holding the chain
    uint32_t ref_;                  // the key's reference
    uint32_t lane_;                 // the lane iterated
  };

  // REQUIRES: rules outlives the table; rules[id] is the rule with id for
  // every id inserted until clear().
  explicit DomainRuleTable(const std::vector<RequestFilter*>* rules)
      : rules_(rules) {}
  DomainRuleTable(const DomainRuleTable&) = delete;
  DomainRuleTable& operator=(const DomainRuleTable&) = delete;

  // Files rule id under key in lane, after the rules already there.
  // Strong guarantee: throws bad_alloc (the table unchanged) when memory
  // runs out or id is not below kMaxRules.
  // REQUIRES: key == rules[id]->domainKeyView(), hash == hashKey(key),
  // lane < kLanes.
  void insert(std::string_view key, uint64_t hash, uint32_t lane, uint32_t id);

  // The reference of key's entry, or kNone. REQUIRES: hash == hashKey(key).
  uint32_t find(std::string_view key, uint64_t hash) const;
  // Starts loading the home slot of a hash into the cache, so that the
  // lookups of several keys wait for memory once rather than in turn.
  void prefetch(uint64_t hash) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[homeOf(tagOf(hash))]);
  }
  // The lanes that hold rules under an entry, bit L for lane L; 0 for kNone.
  uint32_t lanesOf(uint32_t ref) const;
  // The rules of lane under an entry. REQUIRES: ref came from find().
  Chain chain(uint32_t ref, uint32_t lane) const {
    return Chain(this, ref, lane);
  }
  // The key of an entry, a view into its first rule's text.
  // REQUIRES: ref came from find() and is not kNone.
  std::string_view keyOf(uint32_t ref) const;

  // Removes every key and rule; the slot table keeps its size.
  void clear();
  // Resizes the slot table to the tightest size for its keys and releases
  // spare capacity: for the end of a load, when no more keys are coming.
  void compact();

  size_t keyCount() const { return keys_; }
  // Keys with rules in lane, and the rules filed in lane.
  size_t keyCount(uint32_t lane) const { return laneKeys_[lane]; }
  size_t ruleCount(uint32_t lane) const { return laneRules_[lane]; }
  // How far the keys lie from their home slots.
  ProbeLengths probeLengths() const;
  // Heap bytes held.
  size_t memoryBytes() const;

 private:
  // Rule words: lane in the top bits, id below.
  static constexpr uint32_t kIdBits = 28;
  static constexpr uint32_t kIdMask = (1u << kIdBits) - 1;
  static constexpr uint32_t kEndWord = UINT32_MAX;
  static constexpr uint32_t kEndEntry = UINT32_MAX;
  // A reference with this bit names a group; without it, it is a rule word
  // plus one (so that 0 stays kNone).
  static constexpr uint32_t kGroupBit = 1u << 31;

  struct Slot {
    uint32_t tag;  // the high half of the key's hash
    uint32_t ref;  // kNone when the slot is free
  };
  struct Group {
    uint32_t head;   // first entry of the chain
    uint32_t tail;   // last entry
    uint32_t lanes;  // lanes with rules in the chain
  };
  struct Entry {
    uint32_t word;  // lane and rule id
    uint32_t next;  // following entry, kEndEntry at the end
  };

  static uint32_t tagOf(uint64_t hash) {
    return static_cast<uint32_t>(hash >> 32);
  }
  static uint32_t laneOf(uint32_t word) { return word >> kIdBits; }
  const RequestFilter* ruleOf(uint32_t word) const {
    return (*rules_)[word & kIdMask];
  }
  // The rule word of the first rule under a reference.
  uint32_t firstWord(uint32_t ref) const {
    return (ref & kGroupBit) ? entries_[groups_[ref & ~kGroupBit].head].word
                             : ref - 1;
  }
  size_t homeOf(uint32_t tag) const {
    return static_cast<size_t>((uint64_t{tag} * slots_.size()) >> 32);
  }
  // The slot holding key, or the free slot where it would go.
  size_t slotFor(std::string_view key, uint32_t tag) const;
  // Places every key in a new table of size slots.
  void rebuild(size_t size);

  const std::vector<RequestFilter*>* rules_;  // rule id -> rule
  std::vector<Slot> slots_;      // open-addressed, linear probing
  std::vector<Group> groups_;    // keys with more than one rule
  std::vector<Entry> entries_;   // the groups' chains
  size_t keys_ = 0;              // keys present
  size_t laneKeys_[kLanes] = {};   // keys with rules in each lane
  size_t laneRules_[kLanes] = {};  // rules filed in each lane
};

}  // namespace quibex

#endif  // QUIBEX_ENGINE_DOMAIN_RULE_TABLE_H_
