// DomainFilterMap: request rules filed under their domain key, each key
// holding a chain of filters in filing order, plus the scratch list of the
// chains one lookup has already tried.
#ifndef QUIBEX_ENGINE_DOMAIN_FILTER_MAP_H_
#define QUIBEX_ENGINE_DOMAIN_FILTER_MAP_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/keyed_chains.h"

namespace quibex {

class RequestFilter;

// The filters filed under one key, in filing order; iterate with a range
// for. Valid until the map is next modified.
using FilterChain = KeyedChains<const RequestFilter>::Chain;

// Thread-safety: none; the engine mutex guards every call, lookups included
// (they write triedChains).
class DomainFilterMap {
 public:
  static constexpr uint32_t kNoChain = KeyedChains<const RequestFilter>::kNoChain;

  DomainFilterMap() = default;
  DomainFilterMap(const DomainFilterMap&) = delete;
  DomainFilterMap& operator=(const DomainFilterMap&) = delete;

  // Appends filter to the chain of key, creating the key when absent. No
  // duplicate test: equal rules are filed twice.
  // REQUIRES: key is a view into the filter's own storage (it must stay
  // valid until clear()).
  void insertFilter(std::string_view key, const RequestFilter* filter) {
    chains_.append(key, filter);
  }

  // Index of key's chain, or kNoChain. hash must be hashKey(key).
  uint32_t find(std::string_view key, uint64_t hash) const {
    return chains_.find(key, hash);
  }
  uint32_t find(std::string_view key) const { return chains_.find(key); }
  // find() for a caller whose own filter says the key may be here.
  uint32_t findUnfiltered(std::string_view key, uint64_t hash) const {
    return chains_.findUnfiltered(key, hash);
  }
  // Calls f(key) for every key of the map.
  template <class F>
  void forEachKey(F&& f) const {
    chains_.forEachKey(f);
  }
  FilterChain chain(uint32_t index) const { return chains_.chain(index); }
  std::string_view key(uint32_t index) const { return chains_.key(index); }

  // Starts a lookup: forgets the chains tried by the previous one.
  void beginLookup() { triedChains.clear(); }
  // Records chain index as tried; false when this lookup already tried it.
  bool markTried(uint32_t index) {
    if (std::find(triedChains.begin(), triedChains.end(), index) !=
        triedChains.end()) {
      return false;
    }
    triedChains.push_back(index);
    return true;
  }

  // Frees every chain entry and removes every key; the bucket table keeps
  // its size. triedChains is left alone (every lookup empties it first).
  void clear() { chains_.clear(); }
  void shrinkToFit() { chains_.shrinkToFit(); }

  size_t keyCount() const { return chains_.keyCount(); }
  size_t filterCount() const { return chains_.itemCount(); }
  ProbeLengths probeLengths() const { return chains_.probeLengths(); }
  size_t memoryBytes() const {
    return chains_.memoryBytes() + triedChains.capacity() * sizeof(uint32_t);
  }

  // Chains tried by the current lookup, identified by chain index.
  std::vector<uint32_t> triedChains;

 private:
  KeyedChains<const RequestFilter> chains_;  // key -> filters in filing order
};

}  // namespace quibex

#endif  // QUIBEX_ENGINE_DOMAIN_FILTER_MAP_H_
