// The layouts compared for the domain maps: the engine's DomainRuleTable
// (the request rules' keys, read from the rules' text, one 8-byte slot per
// key), KeyedChains (keys viewed in the rules' text, one pool of chain
// entries; the engine's site index) and the straightforward
// standard-library layout, a hash map from a copied key to a vector of
// pointers. Filled from the real lists' domain keys, probed with the
// workload's host candidates.
#ifndef QUIBEX_BENCH_DOMAIN_MAP_COMPARE_H_
#define QUIBEX_BENCH_DOMAIN_MAP_COMPARE_H_

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/bench_support.h"
#include "engine/domain_rule_table.h"
#include "engine/keyed_chains.h"
#include "filters/request_filter.h"
#include "filters/rule_arena.h"

namespace quibex::bench {

using CompactDomainMap = KeyedChains<const void>;
using StdDomainMap = std::unordered_map<std::string, std::vector<const void*>>;
// The engine's table over copies of the rules in an arena, as the engine
// holds them, every rule in one lane.
struct TableDomainMap {
  TableDomainMap() = default;
  TableDomainMap(const TableDomainMap&) = delete;
  TableDomainMap& operator=(const TableDomainMap&) = delete;
  ~TableDomainMap() {
    for (RequestFilter* rule : owning) rule->~RequestFilter();
  }
  RuleArena arena;                     // the rule copies
  std::vector<RequestFilter*> owning;  // copies with heap parts
  DomainRuleTable table{&arena};       // the copies by domain key
};

// Files every key with its item, in order. REQUIRES: map is empty; for
// CompactDomainMap the keys' text outlives the map.
void fillMap(CompactDomainMap& map, const std::vector<KeyedItem>& keys);
void fillMap(StdDomainMap& map, const std::vector<KeyedItem>& keys);
// REQUIRES: every item is a RequestFilter whose domain key is the key.
void fillMap(TableDomainMap& map, const std::vector<KeyedItem>& keys);

// Number of distinct keys.
inline size_t keyCountOf(const CompactDomainMap& map) { return map.keyCount(); }
inline size_t keyCountOf(const StdDomainMap& map) { return map.size(); }
inline size_t keyCountOf(const TableDomainMap& map) {
  return map.table.keyCount();
}

// Looks every candidate up and walks its chain; returns the number of items
// visited, so the work cannot be optimised away.
size_t lookupAll(const CompactDomainMap& map,
                 const std::vector<std::string>& candidates);
size_t lookupAll(const StdDomainMap& map,
                 const std::vector<std::string>& candidates);
size_t lookupAll(const TableDomainMap& map,
                 const std::vector<std::string>& candidates);

// Heap bytes (heapBytesInUse() delta) that filling a fresh map of type Map
// with keys takes; the map is destroyed before returning.
template <class Map>
size_t heapBytesOfMap(const std::vector<KeyedItem>& keys) {
  const size_t before = heapBytesInUse();
  size_t after = before;
  {
    Map map;
    fillMap(map, keys);
    after = heapBytesInUse();
  }
  return after > before ? after - before : 0;
}

}  // namespace quibex::bench

#endif  // QUIBEX_BENCH_DOMAIN_MAP_COMPARE_H_
