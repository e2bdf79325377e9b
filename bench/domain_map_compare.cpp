// Filling and probing the two domain-map layouts; see domain_map_compare.h.
#include "bench/domain_map_compare.h"

namespace quibex::bench {

void fillMap(CompactDomainMap& map, const std::vector<KeyedItem>& keys) {
  for (const KeyedItem& k : keys) map.append(k.key, k.item);
  map.shrinkToFit();  // as the engine does after a load
}

void fillMap(StdDomainMap& map, const std::vector<KeyedItem>& keys) {
  for (const KeyedItem& k : keys) map[std::string(k.key)].push_back(k.item);
}

void fillMap(TableDomainMap& map, const std::vector<KeyedItem>& keys) {
  for (const KeyedItem& k : keys) {
    const auto* original = static_cast<const RequestFilter*>(k.item);
    RequestFilter* rule = parseRequestFilter(original->text(), map.arena);
    if (rule->ownsHeapParts()) map.owning.push_back(rule);
    const std::string_view key = rule->domainKeyView();
    map.table.insert(key, hashKey(key), 0, rule);
  }
  map.table.compact();  // as the engine does after a load
}

size_t lookupAll(const TableDomainMap& map,
                 const std::vector<std::string>& candidates) {
  size_t visited = 0;
  for (const std::string& candidate : candidates) {
    const uint32_t ref = map.table.find(candidate, hashKey(candidate));
    if (ref == DomainRuleTable::kNoEntry) continue;
    for (const RequestFilter* rule : map.table.chain(ref, 0)) {
      visited += rule != nullptr;
    }
  }
  return visited;
}

size_t lookupAll(const CompactDomainMap& map,
                 const std::vector<std::string>& candidates) {
  size_t visited = 0;
  for (const std::string& candidate : candidates) {
    const uint32_t chain = map.find(candidate);
    if (chain == CompactDomainMap::kNoEntry) continue;
    for (const void* item : map.chain(chain)) visited += item != nullptr;
  }
  return visited;
}

size_t lookupAll(const StdDomainMap& map,
                 const std::vector<std::string>& candidates) {
  size_t visited = 0;
  for (const std::string& candidate : candidates) {
    const auto found = map.find(candidate);
    if (found == map.end()) continue;
    for (const void* item : found->second) visited += item != nullptr;
  }
  return visited;
}

}  // namespace quibex::bench
