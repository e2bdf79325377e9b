// DomainLane: one keyed request container (exceptionsByDomain1, …) as a
// lane of the engine's shared DomainRuleTable: its request rules filed
// under their domain key, each key holding a chain of rules in filing
// order, plus the scratch list of the entries one lookup has already tried.
//
// The rules themselves sit in the table, where every keyed container is one
// lane; this object is that lane's view, so that a lookup asks one table
// for every container.
#ifndef QUIBEX_ENGINE_DOMAIN_LANE_H_
#define QUIBEX_ENGINE_DOMAIN_LANE_H_

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/domain_rule_table.h"
#include "engine/table_support.h"

namespace quibex {

// The rules filed under one key, in filing order; iterate with a range for.
// Valid until the table is next modified.
using FilterChain = DomainRuleTable::Chain;

// Thread-safety: none; the engine mutex guards every call, lookups included
// (they write triedChains).
class DomainLane {
 public:
  DomainLane() = default;
  DomainLane(const DomainLane&) = delete;
  DomainLane& operator=(const DomainLane&) = delete;

  // Makes this object lane of table. REQUIRES: called once, before any
  // other method; table outlives the object; lane < DomainRuleTable::kLanes.
  void attach(DomainRuleTable* table, uint32_t lane) {
    assert(lane < DomainRuleTable::kLanes);
    table_ = table;
    lane_ = lane;
  }
  uint32_t lane() const { return lane_; }

  // Appends rule to the chain of key, creating the key when absent. No
  // duplicate test: equal rules are filed twice. Strong guarantee.
  // REQUIRES: as DomainRuleTable::insert.
  void insertFilter(std::string_view key, const RequestFilter* rule) {
    table_->insert(key, hashKey(key), lane_, rule);
  }

  // The table's entry of key when this lane holds rules under it, else
  // DomainRuleTable::kNoEntry.
  uint32_t find(std::string_view key) const {
    const uint32_t entry = table_->find(key, hashKey(key));
    return (table_->lanesOf(entry) >> lane_ & 1) ? entry
                                                 : DomainRuleTable::kNoEntry;
  }
  // The rules of this lane under an entry. REQUIRES: entry came from the
  // table's or this lane's find().
  FilterChain chain(uint32_t entry) const {
    return table_->chain(entry, lane_);
  }

  // The first rule of this lane under entry for which test(peek, rule)
  // returns true, or null: DomainRuleTable::findInLane().
  // REQUIRES: entry came from the table's find() and is not kNoEntry.
  template <class Test>
  const RequestFilter* findInChain(uint32_t entry, Test&& test) const {
    return table_->findInLane(entry, lane_, test);
  }

  // Starts a lookup: forgets the entries tried by the previous one.
  void beginLookup() { triedChains.clear(); }
  // Records entry as tried; false when this lookup already tried it.
  bool markTried(uint32_t entry) {
    if (std::find(triedChains.begin(), triedChains.end(), entry) !=
        triedChains.end()) {
      return false;
    }
    triedChains.push_back(entry);
    return true;
  }

  size_t keyCount() const { return table_->keyCount(lane_); }
  size_t filterCount() const { return table_->ruleCount(lane_); }
  // Heap bytes of this view (the table counts its own).
  size_t memoryBytes() const {
    return triedChains.capacity() * sizeof(uint32_t);
  }

  // The table entries whose chains the current lookup has tried.
  std::vector<uint32_t> triedChains;

 private:
  DomainRuleTable* table_ = nullptr;  // holds the rules of every lane
  uint32_t lane_ = 0;                 // this container's lane
};

}  // namespace quibex

#endif  // QUIBEX_ENGINE_DOMAIN_LANE_H_
