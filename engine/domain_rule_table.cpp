// The shared domain-key table of the request containers; see
// domain_rule_table.h.
#include "engine/domain_rule_table.h"

#include <algorithm>
#include <new>

#include "filters/request_filter.h"
#include "filters/rule_arena.h"

namespace quibex {

DomainRuleTable::Chain::Iterator::Iterator(const DomainRuleTable* table,
                                           uint32_t lane, uint32_t ref,
                                           uint32_t link)
    : table_(table), lane_(lane), ref_(ref), link_(link) {
  settle();
}

const RequestFilter* DomainRuleTable::Chain::Iterator::operator*() const {
  return table_->ruleAt(ref_);
}

DomainRuleTable::Chain::Iterator&
DomainRuleTable::Chain::Iterator::operator++() {
  follow();
  settle();
  return *this;
}

void DomainRuleTable::Chain::Iterator::follow() {
  const uint32_t next = link_ >> kLaneBits;
  if (next == kEndEntry) {
    ref_ = kNoRule;
    return;
  }
  const Entry& entry = table_->entries_[next];
  ref_ = entry.ref;
  link_ = entry.link;
}

void DomainRuleTable::Chain::Iterator::settle() {
  while (ref_ != kNoRule && (link_ & kLaneMask) != lane_) follow();
}

DomainRuleTable::Chain::Iterator DomainRuleTable::Chain::begin() const {
  if (entry_ == kNone) return end();
  const uint32_t meta = table_->metas_[entry_ - 1];
  const uint32_t ref = table_->refs_[entry_ - 1];
  if (meta & kGroupBit) {
    const Entry& head = table_->entries_[table_->groups_[ref].head];
    return Iterator(table_, lane_, head.ref, head.link);
  }
  return Iterator(table_, lane_, ref,
                  kEndEntry << kLaneBits | (meta & kLaneMask));
}

DomainRuleTable::Chain::Iterator DomainRuleTable::Chain::end() const {
  return Iterator(table_, lane_, kNoRule, kEndEntry << kLaneBits);
}

const RequestFilter* DomainRuleTable::ruleAt(uint32_t ref) const {
  return static_cast<const RequestFilter*>(arena_->at(ref));
}

size_t DomainRuleTable::slotFor(std::string_view key, uint32_t tag) const {
  const size_t size = metas_.size();
  for (size_t i = homeOf(tag);;) {
    const uint32_t meta = metas_[i];
    if (meta == 0) return i;
    if ((meta >> kTagShift) == tag &&
        ruleAt(firstRef(i))->domainKeyView() == key) {
      return i;
    }
    if (++i == size) i = 0;
  }
}

uint32_t DomainRuleTable::find(std::string_view key, uint64_t hash) const {
  if (metas_.empty()) return kNone;
  const size_t at = slotFor(key, tagOf(hash));
  return metas_[at] == 0 ? kNone : static_cast<uint32_t>(at + 1);
}

uint32_t DomainRuleTable::lanesOf(uint32_t entry) const {
  if (entry == kNone) return 0;
  const uint32_t meta = metas_[entry - 1];
  if (meta & kGroupBit) return groups_[refs_[entry - 1]].lanes;
  return 1u << (meta & kLaneMask);
}

std::string_view DomainRuleTable::keyOf(uint32_t entry) const {
  return ruleAt(firstRef(entry - 1))->domainKeyView();
}

void DomainRuleTable::insert(std::string_view key, uint64_t hash,
                             uint32_t lane, const RequestFilter* rule) {
  if (lane >= kLanes) throw std::bad_alloc();
  const uint32_t ref = arena_->refOf(rule);
  const uint32_t tag = tagOf(hash);
  size_t at = metas_.empty() ? 0 : slotFor(key, tag);
  if (metas_.empty() || metas_[at] == 0) {
    // A new key. The table is kept at most three-quarters full.
    if ((keys_ + 1) * 4 > metas_.size() * 3) {
      rebuild(std::max<size_t>(16, metas_.size() * 2));
      at = slotFor(key, tag);
    }
    metas_[at] = tag << kTagShift | kUsedBit | lane;
    refs_[at] = ref;
    ++keys_;
    ++laneKeys_[lane];
    ++laneRules_[lane];
    return;
  }
  // A key already present: its rules go to (or already are in) a group.
  if (entries_.size() + 2 > kEndEntry) throw std::bad_alloc();
  uint32_t& meta = metas_[at];
  uint32_t& slotRef = refs_[at];
  Group* group;
  if (meta & kGroupBit) {
    reserveGeometric(&entries_, 1);
    // Nothing below allocates.
    group = &groups_[slotRef];
    const uint32_t entry = static_cast<uint32_t>(entries_.size());
    entries_.push_back(Entry{ref, kEndEntry << kLaneBits | lane});
    Entry& tail = entries_[group->tail];
    tail.link = entry << kLaneBits | (tail.link & kLaneMask);
    group->tail = entry;
  } else {
    reserveGeometric(&groups_, 1);
    reserveGeometric(&entries_, 2);
    // Nothing below allocates.
    const uint32_t firstLane = meta & kLaneMask;
    const uint32_t entry = static_cast<uint32_t>(entries_.size());
    entries_.push_back(Entry{slotRef, (entry + 1) << kLaneBits | firstLane});
    entries_.push_back(Entry{ref, kEndEntry << kLaneBits | lane});
    groups_.push_back(Group{entry, entry + 1, 1u << firstLane});
    meta = (meta & ~kLaneMask) | kGroupBit;
    slotRef = static_cast<uint32_t>(groups_.size() - 1);
    group = &groups_.back();
  }
  if ((group->lanes >> lane & 1) == 0) ++laneKeys_[lane];
  group->lanes |= 1u << lane;
  ++laneRules_[lane];
}

void DomainRuleTable::rebuild(size_t size) {
  std::vector<uint32_t> metas(size, 0u);
  std::vector<uint32_t> refs(size);
  metas_.swap(metas);
  refs_.swap(refs);
  // The keys are distinct, so each goes to the first free slot from home.
  for (size_t old = 0; old < metas.size(); ++old) {
    if (metas[old] == 0) continue;
    size_t i = homeOf(metas[old] >> kTagShift);
    while (metas_[i] != 0) {
      if (++i == size) i = 0;
    }
    metas_[i] = metas[old];
    refs_[i] = refs[old];
  }
}

void DomainRuleTable::reserve(size_t keys) {
  const size_t total = keys_ + keys;
  if (total * 4 <= metas_.size() * 3) return;
  try {
    rebuild(total * 4 / 3 + 1);
  } catch (const std::bad_alloc&) {
    // Insertion grows the table itself.
  }
}

void DomainRuleTable::clear() {
  std::fill(metas_.begin(), metas_.end(), 0u);
  groups_.clear();
  entries_.clear();
  keys_ = 0;
  std::fill(std::begin(laneKeys_), std::end(laneKeys_), size_t{0});
  std::fill(std::begin(laneRules_), std::end(laneRules_), size_t{0});
}

void DomainRuleTable::compact() {
  // At most 70 % full: a lookup of an absent key, the common case, then
  // reads about six slots, one or two cache lines.
  // A table within a sixteenth of that size is kept: rebuilding it would
  // cost more time than it gives back memory.
  const size_t size = std::max<size_t>(16, keys_ * 10 / 7 + 1);
  if (size < metas_.size() - metas_.size() / 16) {
    try {
      rebuild(size);
    } catch (const std::bad_alloc&) {
      // The larger table stays; it answers the same.
    }
  }
  groups_.shrink_to_fit();
  entries_.shrink_to_fit();
}

ProbeLengths DomainRuleTable::probeLengths() const {
  ProbeLengths lengths;
  const size_t size = metas_.size();
  lengths.slots = size;
  for (size_t i = 0; i < size; ++i) {
    if (metas_[i] == 0) continue;
    const size_t home = homeOf(metas_[i] >> kTagShift);
    const uint32_t length =
        static_cast<uint32_t>((i >= home ? i - home : i + size - home) + 1);
    lengths.longest = std::max(lengths.longest, length);
    lengths.total += length;
  }
  return lengths;
}

size_t DomainRuleTable::memoryBytes() const {
  return (metas_.capacity() + refs_.capacity()) * sizeof(uint32_t) +
         groups_.capacity() * sizeof(Group) +
         entries_.capacity() * sizeof(Entry);
}

}  // namespace quibex
