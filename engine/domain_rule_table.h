// DomainRuleTable: every request rule that has a domain key, of all the
// engine's keyed request containers, in one open-addressed table keyed by
// that domain key.
//
// A real list files about a hundred thousand rules under about as many
// keys, and 98 % of the keys hold a single rule. A map per container would
// spend some 45 bytes per key on key records, chain entries and slot
// tables, and a decision would probe each container's map (or a presence
// filter in front of them) for every host candidate. Here one probe per
// candidate answers for every container at once:
//   - a slot is 8 bytes: a meta word with 27 bits of the key's hash and the
//     lane (the container) of its rule, and a 32-bit reference, kept in two
//     arrays, so that probing reads only the meta words (4 bytes a slot:
//     the table of the real lists then fits a second-level cache);
//   - the reference names the key's only rule directly, by its place in
//     the engine's rule arena, or a group whose chain lists the key's rules
//     of every lane, lane by lane in lane order, each lane's in filing
//     order, and keeps each lane's last link: a lane's walk starts after
//     the last rule of the lanes before it and stops at the first rule of
//     a later lane;
//   - the key bytes are not stored: they are read from the rule's own text
//     (domainKeyView()) when the hash bits agree;
//   - slots are placed by linear probing in Robin Hood order (a key that
//     has come further from its home slot takes the place of one nearer
//     its own, and of one of the same home with a higher tag), so keys lie
//     in tag order, the few that wrap round the table's end aside: the
//     longest probe stays short, and a lookup of an absent key, the common
//     case, stops at the first key with a higher tag.
//   - a load stages its rules and files them at the end in tag order
//     (stage(), fileStaged()): the slot table is sized once, for exactly
//     the keys they hold, and filled front to back.
#ifndef QUIBEX_ENGINE_DOMAIN_RULE_TABLE_H_
#define QUIBEX_ENGINE_DOMAIN_RULE_TABLE_H_

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/table_support.h"
#include "filters/rule_arena.h"

namespace quibex {

class RequestFilter;

// Thread-safety: const methods may run concurrently with each other; any
// mutation needs external exclusion (the engine mutex).
class DomainRuleTable {
 public:
  // The tag of a hash: keys of equal tags share a home slot, and only the
  // key bytes tell them apart.
  static uint32_t tagOf(uint64_t hash) {
    return static_cast<uint32_t>(hash >> (64 - kTagBits));
  }
  // Lanes a table can hold; a lane is one keyed container.
  static constexpr uint32_t kLanes = 8;
  // A key is named by its entry, its slot plus one, stable until the table
  // is next modified; kNoEntry names no key.
  static constexpr uint32_t kNoEntry = 0;
  // The bits of a key's hash that a slot keeps (its tag): the high ones.
  static constexpr uint32_t kTagBits = 27;

  // The rules of one lane under one key, in filing order; iterate with a
  // range for. Valid until the table is next modified.
  class Chain {
   public:
    class Iterator {
     public:
      const RequestFilter* operator*() const;
      Iterator& operator++();
      bool operator!=(const Iterator& other) const {
        return ref_ != other.ref_;
      }

     private:
      friend class Chain;
      Iterator(const DomainRuleTable* table, uint32_t lane, uint32_t ref,
               uint32_t link);
      // Moves to the rule the link names, or to the end.
      void follow();
      // Ends at a rule of another lane.
      void stopAtOtherLane();

      const DomainRuleTable* table_;  // the table holding the chain
      uint32_t lane_;                 // the lane iterated
      uint32_t ref_;                  // current rule, kNoRule at the end
      uint32_t link_;  // current rule's lane and the link after it
    };

    Iterator begin() const;
    Iterator end() const;

   private:
    friend class DomainRuleTable;
    Chain(const DomainRuleTable* table, uint32_t entry, uint32_t lane)
        : table_(table), entry_(entry), lane_(lane) {}

    const DomainRuleTable* table_;  // the table holding the chain
    uint32_t entry_;                // the key's entry
    uint32_t lane_;                 // the lane iterated
  };

  // REQUIRES: arena outlives the table and holds every rule inserted until
  // clear().
  explicit DomainRuleTable(const RuleArena* arena) : arena_(arena) {}
  DomainRuleTable(const DomainRuleTable&) = delete;
  DomainRuleTable& operator=(const DomainRuleTable&) = delete;

  // Files rule under key in lane, after the rules already there. Strong
  // guarantee: throws bad_alloc (the table unchanged) when memory runs out
  // or the table is full (half a billion keys with more than one rule).
  // REQUIRES: key == rule->domainKeyView(), hash == hashKey(key),
  // lane < kLanes, rule was placed in the arena.
  void insert(std::string_view key, uint64_t hash, uint32_t lane,
              const RequestFilter* rule);

  // Keeps rule aside for fileStaged(), to be filed under its key in lane:
  // a load stages its keyed rules and files them all at once, in a slot
  // table sized for exactly the keys they hold, placed in the order of
  // their home slots instead of each at a random one. A staged rule is
  // found by no lookup until then. Strong guarantee: throws bad_alloc
  // (nothing staged) when memory runs out. REQUIRES: hash ==
  // hashKey(rule->domainKeyView()), lane < kLanes, rule was placed in the
  // arena.
  void stage(uint64_t hash, uint32_t lane, const RequestFilter* rule);
  // Makes room to stage rules more rules. Best effort: on bad_alloc the
  // staging area grows as it fills.
  void reserveStaged(size_t rules);
  // Files every staged rule after the rules already filed, each key's
  // rules in the order they were staged, as insert() one after another
  // would, and frees the staging area. Returns the staged rules dropped
  // because memory ran out (each in no lane); never throws.
  size_t fileStaged();
  size_t stagedCount() const { return staged_.size(); }

  // The entry of key, or kNoEntry. REQUIRES: hash == hashKey(key).
  uint32_t find(std::string_view key, uint64_t hash) const {
    assert(hash == hashKey(key));
    if (metas_.empty()) return kNoEntry;
    const uint32_t tag = tagOf(hash);
    const size_t at = slotOf(key, tag, homeOf(tag));
    return at == kNoSlot ? kNoEntry : static_cast<uint32_t>(at + 1);
  }
  // Whether the table has slots; one without holds no key.
  bool hasSlots() const { return !metas_.empty(); }
  // The slot table as a run of lookups reads it, its address and size
  // taken once: a caller that looks up several keys in turn and stores
  // what it finds in between keeps them in registers instead of reading
  // the table's members again after each store. Valid while the table is
  // unchanged.
  class Finder {
   public:
    explicit Finder(const DomainRuleTable& table)
        : table_(&table),
          metas_(table.metas_.data()),
          slots_(table.metas_.size()) {}
    // Whether the table has no slots; one without holds no key.
    bool empty() const { return slots_ == 0; }
    // Starts loading the home slot of a hash into the cache, so that the
    // lookups of several keys wait for memory once rather than in turn,
    // and returns it for findFrom(). REQUIRES: !empty().
    uint32_t prefetchHome(uint64_t hash) const {
      assert(!empty());
      const size_t home = homeIn(tagOf(hash), slots_);
      __builtin_prefetch(metas_ + home);
      return static_cast<uint32_t>(home);
    }
    // The table's find(key, hash), the probe started at home. REQUIRES:
    // hash == hashKey(key); home == prefetchHome(hash).
    uint32_t findFrom(std::string_view key, uint64_t hash,
                      uint32_t home) const {
      assert(hash == hashKey(key) && home == homeIn(tagOf(hash), slots_));
      const size_t at = table_->slotIn(metas_, slots_, key, tagOf(hash), home);
      return at == kNoSlot ? kNoEntry : static_cast<uint32_t>(at + 1);
    }

   private:
    const DomainRuleTable* table_;  // the table read
    const uint32_t* metas_;         // its meta words
    size_t slots_;                  // and their number
  };

  // The lanes that hold rules under an entry, bit L for lane L; 0 for
  // kNoEntry.
  uint32_t lanesOf(uint32_t entry) const {
    assert(entry <= metas_.size());
    if (entry == kNoEntry) return 0;
    const uint32_t meta = metas_[entry - 1];
    if (meta & kGroupBit) return groups_[refs_[entry - 1]].lanes;
    return 1u << (meta & kLaneMask);
  }
  // The rules of lane under an entry; none for kNoEntry.
  // REQUIRES: entry came from find(); lane < kLanes.
  Chain chain(uint32_t entry, uint32_t lane) const {
    assert(entry <= metas_.size() && lane < kLanes);
    return Chain(this, entry, lane);
  }
  // Calls test(peek, rule) for each rule of lane under entry in filing
  // order, until one returns true, and returns that rule; null when none
  // does. peek is the rule's RequestFilter::peekAfterKey() where the chain
  // keeps it (a key with more than one rule), else 0; rule() returns the
  // rule, read from the arena only when called. The walk of the rules
  // under a host candidate, so that a rule its peek settles costs neither
  // a read of its record nor a step of an iterator.
  // REQUIRES: entry came from find() and is not kNoEntry; lane < kLanes.
  template <class Test>
  const RequestFilter* findInLane(uint32_t entry, uint32_t lane,
                                  Test&& test) const;
  // The key of an entry, a view into its first rule's text.
  // REQUIRES: entry came from find() and is not kNoEntry.
  std::string_view keyOf(uint32_t entry) const;

  // Makes room for keys more keys, so that filing them does not grow the
  // slot table step by step. Best effort: on bad_alloc the table stays as
  // it is (and grows as it fills).
  void reserve(size_t keys);
  // Removes every key and rule, staged ones too; the slot table keeps its
  // size.
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
  // A slot's meta word: the tag above a used bit, a group bit and the lane
  // of a direct rule; 0 for a free slot.
  static constexpr uint32_t kLaneBits = 3;
  static constexpr uint32_t kLaneMask = (1u << kLaneBits) - 1;
  static constexpr uint32_t kGroupBit = 1u << kLaneBits;
  static constexpr uint32_t kUsedBit = kGroupBit << 1;
  static constexpr uint32_t kTagShift = kLaneBits + 2;
  static_assert(kTagBits == 32 - kTagShift, "a meta word is 32 bits");
  // The end of a chain.
  static constexpr uint32_t kNoRule = UINT32_MAX;
  // No slot: the key is absent.
  static constexpr size_t kNoSlot = SIZE_MAX;
  // A link's word: the next link's index above the lane of its own rule;
  // this index ends a chain.
  static constexpr uint32_t kEndLink = UINT32_MAX >> kLaneBits;
  // A staged word: the tag above the lane above the arena reference, so
  // that the bits from the lane up order the words by tag, then lane.
  static constexpr unsigned kStagedLaneShift = 32;
  static constexpr unsigned kStagedTagShift = kStagedLaneShift + kLaneBits;
  static_assert(kStagedTagShift + kTagBits <= 64, "a staged word is 64 bits");
  static uint32_t stagedTag(uint64_t word) {
    return static_cast<uint32_t>(word >> kStagedTagShift);
  }
  static uint32_t stagedRef(uint64_t word) {
    return static_cast<uint32_t>(word);
  }
  static uint32_t stagedLane(uint64_t word) {
    return static_cast<uint32_t>(word >> kStagedLaneShift) & kLaneMask;
  }

  struct Group {
    uint32_t head;           // first link of the chain
    uint32_t lanes;          // lanes with rules in the chain
    uint32_t tails[kLanes];  // each lane's last link, where it has rules
  };
  struct Link {
    uint32_t ref;   // the rule, an arena reference
    uint32_t link;  // next link (kEndLink at the end) and this rule's lane
  };

  const RequestFilter* ruleAt(uint32_t ref) const;
  // The first link of lane's rules in group: they follow the last rule of
  // the lanes before it. REQUIRES: group.lanes holds lane.
  uint32_t firstLinkOf(const Group& group, uint32_t lane) const {
    const uint32_t before = group.lanes & ((1u << lane) - 1);
    return before == 0
               ? group.head
               : links_[group.tails[highestLane(before)]].link >> kLaneBits;
  }
  // The highest lane of a nonempty set of lanes.
  static uint32_t highestLane(uint32_t lanes) {
    return 31 - static_cast<uint32_t>(__builtin_clz(lanes));
  }
  // The first rule under slot i.
  uint32_t firstRef(size_t i) const {
    return (metas_[i] & kGroupBit) ? links_[groups_[refs_[i]].head].ref
                                   : refs_[i];
  }
  size_t homeOf(uint32_t tag) const { return homeIn(tag, metas_.size()); }
  static size_t homeIn(uint32_t tag, size_t slots) {
    return static_cast<size_t>((uint64_t{tag} * slots) >> kTagBits);
  }
  // A table is at most four-fifths full. In Robin Hood order a lookup of
  // an absent key, the common case, then reads about three and a half
  // slots, and the longest probe of the real lists is some thirty.
  static bool fits(size_t keys, size_t slots) { return keys * 5 <= slots * 4; }
  static size_t slotsFor(size_t keys) { return keys * 5 / 4 + 1; }
  // How far the key in slot i lies from its home slot.
  size_t distanceAt(size_t i) const;
  // The slot holding key, or kNoSlot. REQUIRES: the table has slots.
  size_t slotOf(std::string_view key, uint32_t tag, size_t home) const {
    return slotIn(metas_.data(), metas_.size(), key, tag, home);
  }
  // slotOf() with the slot table's meta words and their number as read
  // by the caller. REQUIRES: metas == metas_.data(), size == metas_.size()
  // > 0.
  size_t slotIn(const uint32_t* metas, size_t size, std::string_view key,
                uint32_t tag, size_t home) const;
  // True when the key of the used slot i is key.
  bool holdsKey(size_t i, std::string_view key) const;
  // Places a new key's slot (meta word and reference) by Robin Hood
  // insertion; returns the free slot that the keys it moved along filled.
  // REQUIRES: a slot is free.
  size_t place(uint32_t meta, uint32_t ref);
  // Adds rule ref of lane to the key in slot at, after its rules of lane
  // and of the lanes before it, before those of later lanes. REQUIRES: the
  // key is in slot at; room for one more link (and, when the key holds a
  // single rule, one more group and two links) was reserved.
  void appendToKey(size_t at, uint32_t ref, uint32_t lane);
  // fileStaged() into an empty table: sizes the slot table for the staged
  // keys and places them in the order of their home slots. Throws
  // bad_alloc (the table left empty) when the room cannot be had.
  // REQUIRES: keys_ == 0; staged is in tag order, each tag's rules in
  // lane order, each lane's in staging order.
  void fileSortedIntoEmpty(const std::vector<uint64_t>& staged);
  // Places every key in a new table of size slots.
  void rebuild(size_t size);

  const RuleArena* arena_;  // where the rules live
  // The slots, open-addressed with linear probing: meta words, and the
  // rule (an arena reference) or group of each.
  std::vector<uint32_t> metas_;
  std::vector<uint32_t> refs_;
  std::vector<Group> groups_;  // keys with more than one rule
  std::vector<Link> links_;    // the groups' chains
  // Each link's rule's peekAfterKey(): a walk turns most rules of a long
  // chain away by it alone.
  std::vector<uint16_t> peeks_;
  // Staged rules in staging order, one word each.
  std::vector<uint64_t> staged_;
  size_t keys_ = 0;                // keys present
  size_t laneKeys_[kLanes] = {};   // keys with rules in each lane
  size_t laneRules_[kLanes] = {};  // rules filed in each lane
};

// The chain iteration runs once per rule a decision tries, so it is
// inline.
inline DomainRuleTable::Chain::Iterator::Iterator(const DomainRuleTable* table,
                                                  uint32_t lane, uint32_t ref,
                                                  uint32_t link)
    : table_(table), lane_(lane), ref_(ref), link_(link) {}

inline const RequestFilter* DomainRuleTable::Chain::Iterator::operator*()
    const {
  return table_->ruleAt(ref_);
}

inline DomainRuleTable::Chain::Iterator&
DomainRuleTable::Chain::Iterator::operator++() {
  follow();
  stopAtOtherLane();
  return *this;
}

inline void DomainRuleTable::Chain::Iterator::follow() {
  const uint32_t next = link_ >> kLaneBits;
  if (next == kEndLink) {
    ref_ = kNoRule;
    return;
  }
  const Link& link = table_->links_[next];
  ref_ = link.ref;
  link_ = link.link;
}

inline void DomainRuleTable::Chain::Iterator::stopAtOtherLane() {
  if ((link_ & kLaneMask) != lane_) ref_ = kNoRule;
}

inline DomainRuleTable::Chain::Iterator DomainRuleTable::Chain::begin() const {
  if (entry_ == kNoEntry) return end();
  const uint32_t meta = table_->metas_[entry_ - 1];
  const uint32_t ref = table_->refs_[entry_ - 1];
  if (meta & kGroupBit) {
    const Group& group = table_->groups_[ref];
    if ((group.lanes >> lane_ & 1) == 0) return end();
    const Link& head = table_->links_[table_->firstLinkOf(group, lane_)];
    return Iterator(table_, lane_, head.ref, head.link);
  }
  if ((meta & kLaneMask) != lane_) return end();
  return Iterator(table_, lane_, ref, kEndLink << kLaneBits | lane_);
}

inline DomainRuleTable::Chain::Iterator DomainRuleTable::Chain::end() const {
  return Iterator(table_, lane_, kNoRule, kEndLink << kLaneBits);
}

// The probe runs for every host candidate of every request, so it is
// inline; the comparison of key bytes, needed only when a tag agrees, is
// not.
inline size_t DomainRuleTable::slotIn(const uint32_t* metas, size_t size,
                                      std::string_view key, uint32_t tag,
                                      size_t home) const {
  // A used slot's meta word orders as its tag: one below low is a key of
  // a lower tag, passed with one comparison (a free slot's 0, less one,
  // is the largest word, and ends the run).
  const uint32_t low = tag << kTagShift | kUsedBit;
  for (size_t i = home;;) {
    while (metas[i] - 1 < low - 1) {
      if (++i == size) i = 0;
    }
    const uint32_t meta = metas[i];
    if (meta == 0) return kNoSlot;
    const uint32_t theirs = meta >> kTagShift;
    if (theirs == tag) {
      if (holdsKey(i, key)) return i;
    } else if (homeIn(theirs, size) <= i) {
      // Keys lie in tag order: a key with a higher tag that has not
      // wrapped round the table's end stands where key would have been.
      // (Once the search itself wraps round, i lies before key's home and
      // so before the home of every higher tag: it runs on to a free
      // slot.)
      return kNoSlot;
    }
    if (++i == size) i = 0;
  }
}

inline const RequestFilter* DomainRuleTable::ruleAt(uint32_t ref) const {
  return static_cast<const RequestFilter*>(arena_->at(ref));
}

template <class Test>
const RequestFilter* DomainRuleTable::findInLane(uint32_t entry, uint32_t lane,
                                                 Test&& test) const {
  assert(entry != kNoEntry && entry <= metas_.size() && lane < kLanes);
  const uint32_t meta = metas_[entry - 1];
  const uint32_t ref = refs_[entry - 1];
  if ((meta & kGroupBit) == 0) {
    if ((meta & kLaneMask) != lane) return nullptr;
    const RequestFilter* rule = ruleAt(ref);
    return test(uint16_t{0}, [rule] { return rule; }) ? rule : nullptr;
  }
  // The lane's rules end at a rule of a later lane or at the chain's end.
  const Group& group = groups_[ref];
  if ((group.lanes >> lane & 1) == 0) return nullptr;
  uint32_t at = firstLinkOf(group, lane);
  const Link* const links = links_.data();
  const uint16_t* const peeks = peeks_.data();
  for (;;) {
    const Link link = links[at];
    if (test(peeks[at], [this, &link] { return ruleAt(link.ref); })) {
      return ruleAt(link.ref);
    }
    at = link.link >> kLaneBits;
    if (at == kEndLink || (links[at].link & kLaneMask) != lane) return nullptr;
  }
}

}  // namespace quibex

#endif  // QUIBEX_ENGINE_DOMAIN_RULE_TABLE_H_
