// The shared domain-key table of the request containers; see
// domain_rule_table.h.
#include "engine/domain_rule_table.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <exception>
#include <new>
#include <utility>
#include <vector>

#include "filters/request_filter.h"
#include "filters/rule_arena.h"
#include "filters/text_util.h"

namespace quibex {
namespace {

// Sorts words by their bits from shift up, keeping the order of words
// whose such bits are equal: three passes of a radix sort through a
// scratch copy, or, when memory for one cannot be had, a merge sort in
// place. REQUIRES: shift + 30 >= 64.
void stableSortByHighBits(std::vector<uint64_t>* words, unsigned shift) {
  constexpr unsigned kDigitBits = 10;
  constexpr size_t kDigits = size_t{1} << kDigitBits;
  constexpr unsigned kPasses = 3;
  std::vector<uint64_t> scratch;
  try {
    scratch.resize(words->size());
  } catch (const std::exception&) {
    std::stable_sort(words->begin(), words->end(),
                     [shift](uint64_t a, uint64_t b) {
                       return (a >> shift) < (b >> shift);
                     });
    return;
  }
  // Each pass's digit counts, then the slot where each digit's words go.
  size_t starts[kPasses][kDigits] = {};
  for (const uint64_t word : *words) {
    for (unsigned pass = 0; pass < kPasses; ++pass) {
      ++starts[pass][(word >> (shift + pass * kDigitBits)) & (kDigits - 1)];
    }
  }
  for (unsigned pass = 0; pass < kPasses; ++pass) {
    size_t total = 0;
    for (size_t& start : starts[pass]) {
      const size_t n = start;
      start = total;
      total += n;
    }
  }
  std::vector<uint64_t>* from = words;
  std::vector<uint64_t>* to = &scratch;
  for (unsigned pass = 0; pass < kPasses; ++pass) {
    size_t* start = starts[pass];
    const unsigned digitShift = shift + pass * kDigitBits;
    uint64_t* out = to->data();
    for (const uint64_t word : *from) {
      out[start[(word >> digitShift) & (kDigits - 1)]++] = word;
    }
    std::swap(from, to);
  }
  // An odd number of passes leaves the words in the scratch copy.
  words->swap(*from);
}

// Whether the size bytes at a and b are equal, by memcmp: out of line, so
// that the common case below needs no stack frame.
__attribute__((noinline)) bool equalByMemcmp(const char* a, const char* b,
                                             size_t size) {
  return std::memcmp(a, b, size) == 0;
}

// Whether the size bytes at a and b are equal. A key is mostly 4 to 16
// bytes long, compared without a call.
bool equalBytes(const char* a, const char* b, size_t size) {
  if (size >= 4 && size <= 16) return sameBytes4To16(a, b, size);
  return equalByMemcmp(a, b, size);
}

}  // namespace

size_t DomainRuleTable::distanceAt(size_t i) const {
  const size_t home = homeOf(metas_[i] >> kTagShift);
  return i >= home ? i - home : i + metas_.size() - home;
}

bool DomainRuleTable::holdsKey(size_t i, std::string_view key) const {
  const std::string_view theirs = ruleAt(firstRef(i))->domainKeyView();
  if (theirs.size() != key.size()) return false;
  return equalBytes(theirs.data(), key.data(), key.size());
}

size_t DomainRuleTable::place(uint32_t meta, uint32_t ref) {
  const size_t size = metas_.size();
  size_t i = homeOf(meta >> kTagShift);
  for (size_t distance = 0; metas_[i] != 0; ++distance) {
    // A key nearer its home than the one being placed makes way for it,
    // and so does one of the same home with a higher tag.
    const size_t theirs = distanceAt(i);
    if (theirs < distance || (theirs == distance &&
                              (metas_[i] >> kTagShift) > (meta >> kTagShift))) {
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
  const size_t at = metas_.empty() ? kNoSlot : slotOf(key, tag, homeOf(tag));
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
  if (metas_[at] & kGroupBit) {
    reserveGeometric(&links_, 1);
    reserveGeometric(&peeks_, 1);
  } else {
    reserveGeometric(&groups_, 1);
    reserveGeometric(&links_, 2);
    reserveGeometric(&peeks_, 2);
  }
  appendToKey(at, ref, lane);
}

void DomainRuleTable::appendToKey(size_t at, uint32_t ref, uint32_t lane) {
  uint32_t& meta = metas_[at];
  uint32_t& slotRef = refs_[at];
  if ((meta & kGroupBit) == 0) {
    // The key's only rule becomes the first link of a group.
    const uint32_t firstLane = meta & kLaneMask;
    const uint32_t link = static_cast<uint32_t>(links_.size());
    links_.push_back(Link{slotRef, kEndLink << kLaneBits | firstLane});
    peeks_.push_back(ruleAt(slotRef)->peekAfterKey());
    Group group{};
    group.head = link;
    group.lanes = 1u << firstLane;
    group.tails[firstLane] = link;
    groups_.push_back(group);
    meta = (meta & ~kLaneMask) | kGroupBit;
    slotRef = static_cast<uint32_t>(groups_.size() - 1);
  }
  Group& group = groups_[slotRef];
  const uint32_t link = static_cast<uint32_t>(links_.size());
  peeks_.push_back(ruleAt(ref)->peekAfterKey());
  // The rule goes after the last rule of its lane or of the nearest lane
  // before it that holds rules, or first.
  const uint32_t upTo = group.lanes & ((2u << lane) - 1);
  if (upTo == 0) {
    links_.push_back(Link{ref, group.head << kLaneBits | lane});
    group.head = link;
  } else {
    const uint32_t after = group.tails[highestLane(upTo)];
    const uint32_t next = links_[after].link >> kLaneBits;
    links_.push_back(Link{ref, next << kLaneBits | lane});
    links_[after].link = link << kLaneBits | (links_[after].link & kLaneMask);
  }
  group.tails[lane] = link;
  if ((group.lanes >> lane & 1) == 0) ++laneKeys_[lane];
  group.lanes |= 1u << lane;
  ++laneRules_[lane];
}

void DomainRuleTable::stage(uint64_t hash, uint32_t lane,
                            const RequestFilter* rule) {
  assert(hash == hashKey(rule->domainKeyView()));
  if (lane >= kLanes) throw std::bad_alloc();
  const uint32_t ref = arena_->refOf(rule);
  if (staged_.size() == staged_.capacity()) reserveGeometric(&staged_, 1);
  staged_.push_back(uint64_t{tagOf(hash)} << kStagedTagShift |
                    uint64_t{lane} << kStagedLaneShift | ref);
}

void DomainRuleTable::reserveStaged(size_t rules) {
  try {
    staged_.reserve(staged_.size() + rules);
  } catch (const std::exception&) {
    // Staging grows the area itself.
  }
}

size_t DomainRuleTable::fileStaged() {
  if (staged_.empty()) return 0;
  // The staged rules leave the staging area whatever happens below.
  std::vector<uint64_t> staged;
  staged.swap(staged_);
  // In tag order, each tag's rules in lane order, each lane's in staging
  // order: each rule then goes after the rules of its key filed so far.
  stableSortByHighBits(&staged, kStagedLaneShift);
  if (keys_ == 0) {
    try {
      fileSortedIntoEmpty(staged);
      return 0;
    } catch (const std::bad_alloc&) {
      // Filed one by one below, as far as memory goes.
    }
  }
  // Into a table that holds keys already (or after a failure above): each
  // rule by insert(), in tag order, so that neighbouring rules probe
  // neighbouring slots.
  size_t dropped = 0;
  for (const uint64_t word : staged) {
    const RequestFilter* rule = ruleAt(stagedRef(word));
    const std::string_view key = rule->domainKeyView();
    try {
      insert(key, hashKey(key), stagedLane(word), rule);
    } catch (const std::bad_alloc&) {
      ++dropped;
    }
  }
  return dropped;
}

void DomainRuleTable::fileSortedIntoEmpty(const std::vector<uint64_t>& staged) {
  assert(keys_ == 0);
  // The keys: rules of equal tags are told apart by their key bytes.
  const size_t count = staged.size();
  const auto keyAt = [this, &staged](size_t i) {
    return ruleAt(stagedRef(staged[i]))->domainKeyView();
  };
  size_t keys = count;  // less each rule whose key an earlier one holds
  for (size_t i = 1; i < count; ++i) {
    const uint32_t tag = stagedTag(staged[i]);
    if (stagedTag(staged[i - 1]) != tag) continue;
    size_t first = i - 1;  // the first rule of the tag
    while (first > 0 && stagedTag(staged[first - 1]) == tag) --first;
    const std::string_view key = keyAt(i);
    for (size_t m = first; m < i; ++m) {
      if (keyAt(m) == key) {
        --keys;
        break;
      }
    }
  }
  const size_t repeats = count - keys;  // rules filed under a key again
  if (repeats > (kEndLink - links_.size()) / 2) throw std::bad_alloc();
  // The old slot table goes first, so that the two are never held at once.
  std::vector<uint32_t>().swap(metas_);
  std::vector<uint32_t>().swap(refs_);
  rebuild(std::max<size_t>(16, slotsFor(keys)));
  groups_.reserve(groups_.size() + repeats);
  links_.reserve(links_.size() + 2 * repeats);
  peeks_.reserve(peeks_.size() + 2 * repeats);
  // Nothing below allocates. The keys come in the order of their homes, so
  // each goes to its home or to the slot after the last key, where Robin
  // Hood insertion would put it, until one runs past the end; that one and
  // the rest are placed by place().
  const size_t size = metas_.size();
  size_t next = 0;  // the slot after the keys placed in order
  bool wrapping = false;
  for (size_t i = 0; i < count; ++i) {
    const uint64_t word = staged[i];
    const uint32_t tag = stagedTag(word);
    const uint32_t ref = stagedRef(word);
    const uint32_t lane = stagedLane(word);
    // Only an earlier rule of the same tag can hold the same key.
    if (i > 0 && stagedTag(staged[i - 1]) == tag) {
      const size_t at = slotOf(keyAt(i), tag, homeOf(tag));
      if (at != kNoSlot) {
        appendToKey(at, ref, lane);
        continue;
      }
    }
    const uint32_t meta = tag << kTagShift | kUsedBit | lane;
    const size_t at = std::max(homeOf(tag), next);
    if (!wrapping && at < size) {
      metas_[at] = meta;
      refs_[at] = ref;
      next = at + 1;
    } else {
      wrapping = true;
      place(meta, ref);
    }
    ++keys_;
    ++laneKeys_[lane];
    ++laneRules_[lane];
  }
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
  std::vector<uint64_t>().swap(staged_);
  groups_.clear();
  links_.clear();
  peeks_.clear();
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
  peeks_.shrink_to_fit();
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
         groups_.capacity() * sizeof(Group) + links_.capacity() * sizeof(Link) +
         peeks_.capacity() * sizeof(uint16_t) +
         staged_.capacity() * sizeof(uint64_t);
}

}  // namespace quibex
