// The shared domain-key table of the request containers; see
// domain_rule_table.h.
#include "engine/domain_rule_table.h"

#include <algorithm>
#include <new>

#include "filters/request_filter.h"

namespace quibex {
namespace {

// Room for extra more elements, growing the capacity by doubling so that
// appends stay amortised constant.
template <class V>
void reserveGeometric(V* v, size_t extra) {
  if (v->size() + extra <= v->capacity()) return;
  v->reserve(std::max(v->size() + extra, v->capacity() * 2));
}

}  // namespace

DomainRuleTable::Chain::Iterator::Iterator(const DomainRuleTable* table,
                                           uint32_t lane, uint32_t word,
                                           uint32_t next)
    : table_(table), lane_(lane), word_(word), next_(next) {
  settle();
}

const RequestFilter* DomainRuleTable::Chain::Iterator::operator*() const {
  return table_->ruleOf(word_);
}

DomainRuleTable::Chain::Iterator&
DomainRuleTable::Chain::Iterator::operator++() {
  if (next_ == kEndEntry) {
    word_ = kEndWord;
    return *this;
  }
  const Entry& entry = table_->entries_[next_];
  word_ = entry.word;
  next_ = entry.next;
  settle();
  return *this;
}

void DomainRuleTable::Chain::Iterator::settle() {
  while (word_ != kEndWord && laneOf(word_) != lane_) {
    if (next_ == kEndEntry) {
      word_ = kEndWord;
      return;
    }
    const Entry& entry = table_->entries_[next_];
    word_ = entry.word;
    next_ = entry.next;
  }
}

DomainRuleTable::Chain::Iterator DomainRuleTable::Chain::begin() const {
  if (ref_ == kNone) return end();
  if (ref_ & kGroupBit) {
    const Entry& head =
        table_->entries_[table_->groups_[ref_ & ~kGroupBit].head];
    return Iterator(table_, lane_, head.word, head.next);
  }
  return Iterator(table_, lane_, ref_ - 1, kEndEntry);
}

DomainRuleTable::Chain::Iterator DomainRuleTable::Chain::end() const {
  return Iterator(table_, lane_, kEndWord, kEndEntry);
}

size_t DomainRuleTable::slotFor(std::string_view key, uint32_t tag) const {
  const size_t size = slots_.size();
  for (size_t i = homeOf(tag);;) {
    const Slot& slot = slots_[i];
    if (slot.ref == kNone) return i;
    if (slot.tag == tag && ruleOf(firstWord(slot.ref))->domainKeyView() == key) {
      return i;
    }
    if (++i == size) i = 0;
  }
}

uint32_t DomainRuleTable::find(std::string_view key, uint64_t hash) const {
  if (slots_.empty()) return kNone;
  return slots_[slotFor(key, tagOf(hash))].ref;
}

uint32_t DomainRuleTable::lanesOf(uint32_t ref) const {
  if (ref == kNone) return 0;
  if (ref & kGroupBit) return groups_[ref & ~kGroupBit].lanes;
  return 1u << laneOf(ref - 1);
}

std::string_view DomainRuleTable::keyOf(uint32_t ref) const {
  return ruleOf(firstWord(ref))->domainKeyView();
}

void DomainRuleTable::insert(std::string_view key, uint64_t hash,
                             uint32_t lane, uint32_t id) {
  if (id >= kMaxRules || lane >= kLanes) throw std::bad_alloc();
  const uint32_t tag = tagOf(hash);
  const uint32_t word = lane << kIdBits | id;
  size_t at = slots_.empty() ? 0 : slotFor(key, tag);
  if (slots_.empty() || slots_[at].ref == kNone) {
    // A new key. The table is kept at most three-quarters full.
    if ((keys_ + 1) * 4 > slots_.size() * 3) {
      rebuild(std::max<size_t>(16, slots_.size() * 2));
      at = slotFor(key, tag);
    }
    slots_[at] = Slot{tag, word + 1};
    ++keys_;
    ++laneKeys_[lane];
    ++laneRules_[lane];
    return;
  }
  // A key already present: its rules go to (or already are in) a group.
  Slot& slot = slots_[at];
  Group* group;
  if (slot.ref & kGroupBit) {
    reserveGeometric(&entries_, 1);
    // Nothing below allocates.
    group = &groups_[slot.ref & ~kGroupBit];
    const uint32_t entry = static_cast<uint32_t>(entries_.size());
    entries_.push_back(Entry{word, kEndEntry});
    entries_[group->tail].next = entry;
    group->tail = entry;
  } else {
    reserveGeometric(&groups_, 1);
    reserveGeometric(&entries_, 2);
    // Nothing below allocates.
    const uint32_t first = slot.ref - 1;
    const uint32_t entry = static_cast<uint32_t>(entries_.size());
    entries_.push_back(Entry{first, entry + 1});
    entries_.push_back(Entry{word, kEndEntry});
    groups_.push_back(Group{entry, entry + 1, 1u << laneOf(first)});
    slot.ref = kGroupBit | static_cast<uint32_t>(groups_.size() - 1);
    group = &groups_.back();
  }
  if ((group->lanes >> lane & 1) == 0) ++laneKeys_[lane];
  group->lanes |= 1u << lane;
  ++laneRules_[lane];
}

void DomainRuleTable::rebuild(size_t size) {
  std::vector<Slot> slots(size, Slot{0, kNone});
  slots_.swap(slots);
  // The keys are distinct, so each goes to the first free slot from home.
  for (const Slot& slot : slots) {
    if (slot.ref == kNone) continue;
    size_t i = homeOf(slot.tag);
    while (slots_[i].ref != kNone) {
      if (++i == size) i = 0;
    }
    slots_[i] = slot;
  }
}

void DomainRuleTable::clear() {
  std::fill(slots_.begin(), slots_.end(), Slot{0, kNone});
  groups_.clear();
  entries_.clear();
  keys_ = 0;
  std::fill(std::begin(laneKeys_), std::end(laneKeys_), size_t{0});
  std::fill(std::begin(laneRules_), std::end(laneRules_), size_t{0});
}

void DomainRuleTable::compact() {
  // At most 70 % full: a lookup of an absent key, the common case, then
  // reads about six slots, one or two cache lines.
  const size_t size = std::max<size_t>(16, keys_ * 10 / 7 + 1);
  if (size < slots_.size()) {
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
  const size_t size = slots_.size();
  lengths.slots = size;
  for (size_t i = 0; i < size; ++i) {
    if (slots_[i].ref == kNone) continue;
    const size_t home = homeOf(slots_[i].tag);
    const uint32_t length =
        static_cast<uint32_t>((i >= home ? i - home : i + size - home) + 1);
    lengths.longest = std::max(lengths.longest, length);
    lengths.total += length;
  }
  return lengths;
}

size_t DomainRuleTable::memoryBytes() const {
  return slots_.capacity() * sizeof(Slot) +
         groups_.capacity() * sizeof(Group) +
         entries_.capacity() * sizeof(Entry);
}

}  // namespace quibex
