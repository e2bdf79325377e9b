// The shared domain-key table of the request containers; see
// domain_rule_table.h.
#include "engine/domain_rule_table.h"

#include <algorithm>
#include <cassert>
#include <new>
#include <utility>

#include "filters/request_filter.h"
#include "filters/rule_arena.h"

namespace quibex {

size_t DomainRuleTable::distanceAt(size_t i) const {
  const size_t home = homeOf(metas_[i] >> kTagShift);
  return i >= home ? i - home : i + metas_.size() - home;
}

bool DomainRuleTable::holdsKey(size_t i, std::string_view key) const {
  return ruleAt(firstRef(i))->domainKeyView() == key;
}

size_t DomainRuleTable::place(uint32_t meta, uint32_t ref) {
  const size_t size = metas_.size();
  size_t i = homeOf(meta >> kTagShift);
  for (size_t distance = 0; metas_[i] != 0; ++distance) {
    // A key nearer its home than the one being placed makes way for it.
    const size_t theirs = distanceAt(i);
    if (theirs < distance) {
      std::swap(meta, metas_[i]);
      std::swap(ref, refs_[i]);
      distance = theirs;
    }
    if (++i == size) i = 0;
  }
  metas_[i] = meta;
  refs_[i] = ref;
  return i;
}

std::string_view DomainRuleTable::keyOf(uint32_t entry) const {
  assert(entry != kNoEntry && entry <= metas_.size() && metas_[entry - 1] != 0);
  return ruleAt(firstRef(entry - 1))->domainKeyView();
}

void DomainRuleTable::insert(std::string_view key, uint64_t hash, uint32_t lane,
                             const RequestFilter* rule) {
  assert(key == rule->domainKeyView() && hash == hashKey(key));
  if (lane >= kLanes) throw std::bad_alloc();
  const uint32_t ref = arena_->refOf(rule);
  const uint32_t tag = tagOf(hash);
  const size_t at = metas_.empty() ? kNoSlot : slotOf(key, tag);
  if (at == kNoSlot) {
    // A new key.
    if (!fits(keys_ + 1, metas_.size())) {
      rebuild(std::max<size_t>(16, metas_.size() * 2));
    }
    place(tag << kTagShift | kUsedBit | lane, ref);
    ++keys_;
    ++laneKeys_[lane];
    ++laneRules_[lane];
    return;
  }
  // A key already present: its rules go to (or already are in) a group.
  if (links_.size() + 2 > kEndLink) throw std::bad_alloc();
  uint32_t& meta = metas_[at];
  uint32_t& slotRef = refs_[at];
  Group* group;
  if (meta & kGroupBit) {
    reserveGeometric(&links_, 1);
    // Nothing below allocates.
    group = &groups_[slotRef];
    const uint32_t link = static_cast<uint32_t>(links_.size());
    links_.push_back(Link{ref, kEndLink << kLaneBits | lane});
    Link& tail = links_[group->tail];
    tail.link = link << kLaneBits | (tail.link & kLaneMask);
    group->tail = link;
  } else {
    reserveGeometric(&groups_, 1);
    reserveGeometric(&links_, 2);
    // Nothing below allocates.
    const uint32_t firstLane = meta & kLaneMask;
    const uint32_t link = static_cast<uint32_t>(links_.size());
    links_.push_back(Link{slotRef, (link + 1) << kLaneBits | firstLane});
    links_.push_back(Link{ref, kEndLink << kLaneBits | lane});
    groups_.push_back(Group{link, link + 1, 1u << firstLane});
    meta = (meta & ~kLaneMask) | kGroupBit;
    slotRef = static_cast<uint32_t>(groups_.size() - 1);
    group = &groups_.back();
  }
  if ((group->lanes >> lane & 1) == 0) ++laneKeys_[lane];
  group->lanes |= 1u << lane;
  ++laneRules_[lane];
}

void DomainRuleTable::reserveInsertSlowly() {
  if (links_.size() + 2 > kEndLink) throw std::bad_alloc();
  if (!fits(keys_ + 1, metas_.size())) {
    rebuild(std::max<size_t>(16, metas_.size() * 2));
  }
  reserveGeometric(&groups_, 1);
  reserveGeometric(&links_, 2);
}

void DomainRuleTable::rebuild(size_t size) {
  std::vector<uint32_t> metas(size, 0u);
  std::vector<uint32_t> refs(size);
  metas_.swap(metas);
  refs_.swap(refs);
  // The old keys lie in order of their home slots, once the few that
  // wrapped round to the old table's start are taken last, and their homes
  // in the new table mostly keep that order. A key whose home is no lower
  // than any before it goes to its home or to the slot after the last key,
  // where Robin Hood insertion would put it; any other key, and every key
  // once one has wrapped round the end, is placed by place().
  size_t next = 0;     // the slot after the keys placed in order
  size_t highest = 0;  // the highest home placed so far
  bool wrapping = false;
  const auto move = [&](size_t old) {
    const size_t home = homeOf(metas[old] >> kTagShift);
    if (!wrapping && home >= highest) {
      const size_t at = std::max(home, next);
      if (at < size) {
        metas_[at] = metas[old];
        refs_[at] = refs[old];
        next = at + 1;
        highest = home;
        return;
      }
    }
    const size_t filled = place(metas[old], refs[old]);
    if (filled < home) {
      wrapping = true;
    } else {
      next = std::max(next, filled + 1);
    }
  };
  const size_t oldSize = metas.size();
  size_t wrapped = 0;  // old slots at the start holding wrapped keys
  while (wrapped < oldSize && metas[wrapped] != 0 &&
         homeIn(metas[wrapped] >> kTagShift, oldSize) > wrapped) {
    ++wrapped;
  }
  for (size_t old = wrapped; old < oldSize; ++old) {
    if (metas[old] != 0) move(old);
  }
  for (size_t old = 0; old < wrapped; ++old) move(old);
}

void DomainRuleTable::reserve(size_t keys) {
  const size_t total = keys_ + keys;
  if (fits(total, metas_.size())) return;
  try {
    rebuild(slotsFor(total));
  } catch (const std::bad_alloc&) {
    // Insertion grows the table itself.
  }
}

void DomainRuleTable::clear() {
  std::fill(metas_.begin(), metas_.end(), 0u);
  groups_.clear();
  links_.clear();
  keys_ = 0;
  std::fill(std::begin(laneKeys_), std::end(laneKeys_), size_t{0});
  std::fill(std::begin(laneRules_), std::end(laneRules_), size_t{0});
}

void DomainRuleTable::compact() {
  // A table within a sixteenth of the tightest size is kept: rebuilding it
  // would cost more time than it gives back memory.
  const size_t size = std::max<size_t>(16, slotsFor(keys_));
  if (size < metas_.size() - metas_.size() / 16) {
    try {
      rebuild(size);
    } catch (const std::bad_alloc&) {
      // The larger table stays; it answers the same.
    }
  }
  groups_.shrink_to_fit();
  links_.shrink_to_fit();
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
         groups_.capacity() * sizeof(Group) + links_.capacity() * sizeof(Link);
}

}  // namespace quibex
