// DomainFilterMap: one keyed request container (exceptionsByDomain1, …):
// its request rules filed under their domain key, each key holding a chain
// of rules in filing order, plus the scratch list of the chains one lookup
// has already tried.
//
// The rules themselves sit in the engine's shared DomainRuleTable, where
// the container is one lane; this object is that lane's view, so that a
// lookup asks one table for every container.
#ifndef QUIBEX_ENGINE_DOMAIN_FILTER_MAP_H_
#define QUIBEX_ENGINE_DOMAIN_FILTER_MAP_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/domain_rule_table.h"
#include "engine/keyed_chains.h"

namespace quibex {

// The rules filed under one key, in filing order; iterate with a range for.
// Valid until the table is next modified.
using FilterChain = DomainRuleTable::Chain;

// Thread-safety: none; the engine mutex guards every call, lookups included
// (they write triedChains).
class DomainFilterMap {
 public:
  static constexpr uint32_t kNoChain = DomainRuleTable::kNone;

  DomainFilterMap() = default;
  DomainFilterMap(const DomainFilterMap&) = delete;
  DomainFilterMap& operator=(const DomainFilterMap&) = delete;

  // Makes this map lane of table. REQUIRES: called once, before any other
  // method; table outlives the map.
  void attach(DomainRuleTable* table, uint32_t lane) {
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

  // The chain of key in this map, or kNoChain. hash must be hashKey(key).
  uint32_t find(std::string_view key, uint64_t hash) const {
    const uint32_t ref = table_->find(key, hash);
    return (table_->lanesOf(ref) >> lane_ & 1) ? ref : kNoChain;
  }
  uint32_t find(std::string_view key) const { return find(key, hashKey(key)); }
  // The rules of a chain. REQUIRES: chain came from find(), or is the
  // table's entry of a key with rules in this lane.
  FilterChain chain(uint32_t chain) const {
    return table_->chain(chain, lane_);
  }
  std::string_view key(uint32_t chain) const { return table_->keyOf(chain); }

  // Starts a lookup: forgets the chains tried by the previous one.
  void beginLookup() { triedChains.clear(); }
  // Records chain as tried; false when this lookup already tried it.
  bool markTried(uint32_t chain) {
    if (std::find(triedChains.begin(), triedChains.end(), chain) !=
        triedChains.end()) {
      return false;
    }
    triedChains.push_back(chain);
    return true;
  }

  size_t keyCount() const { return table_->keyCount(lane_); }
  size_t filterCount() const { return table_->ruleCount(lane_); }
  // Heap bytes of this view (the table counts its own).
  size_t memoryBytes() const {
    return triedChains.capacity() * sizeof(uint32_t);
  }

  // Chains tried by the current lookup, identified by their table entry.
  std::vector<uint32_t> triedChains;

 private:
  DomainRuleTable* table_ = nullptr;  // holds the rules of every lane
  uint32_t lane_ = 0;                 // this container's lane
};

}  // namespace quibex

#endif  // QUIBEX_ENGINE_DOMAIN_FILTER_MAP_H_
