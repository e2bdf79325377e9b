// KeyedChains against the straightforward standard-library layout, both
// filled with the real lists' domain keys: heap bytes of each (counters of
// the fill benchmarks) and lookup time for the workload's host candidates.
// Each benchmark skips when the reference data is absent.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/domain_map_compare.h"

namespace quibex::bench {
namespace {

// The keys and the candidates, derived once from the reference data.
struct KeyData {
  ParsedRules rules;                    // owns the text the keys view
  std::vector<KeyedItem> keys;          // every domain key with its rule
  std::vector<std::string> candidates;  // host candidates of the workload
};

const KeyData* keyDataOrSkip(benchmark::State& state) {
  std::string why;
  const BenchData* data = benchData(&why);
  if (data == nullptr) {
    state.SkipWithError(why.c_str());
    return nullptr;
  }
  static const std::unique_ptr<KeyData> keyData = [data] {
    auto made = std::make_unique<KeyData>();
    made->rules = parseRules(*data);
    made->keys = domainKeys(made->rules);
    made->candidates = workloadCandidates(data->workload);
    return made;
  }();
  return keyData.get();
}

// A map filled once for the lookup benchmarks.
template <class Map>
const Map& filledMap(const KeyData& keyData) {
  static const std::unique_ptr<Map> map = [&keyData] {
    auto made = std::make_unique<Map>();
    fillMap(*made, keyData.keys);
    return made;
  }();
  return *map;
}

// Filling a fresh map with every key; counters give its heap bytes.
template <class Map>
void BM_FillDomainMap(benchmark::State& state) {
  const KeyData* keyData = keyDataOrSkip(state);
  if (keyData == nullptr) return;
  for (auto _ : state) {
    Map map;
    fillMap(map, keyData->keys);
    benchmark::DoNotOptimize(map);
  }
  const size_t bytes = heapBytesOfMap<Map>(keyData->keys);
  const size_t keys = keyCountOf(filledMap<Map>(*keyData));
  state.counters["heap_bytes"] = static_cast<double>(bytes);
  state.counters["keys"] = static_cast<double>(keys);
  state.counters["items"] = static_cast<double>(keyData->keys.size());
  state.counters["bytes_per_item"] =
      static_cast<double>(bytes) / static_cast<double>(keyData->keys.size());
}

// Every host candidate of the workload looked up, its chain walked.
template <class Map>
void BM_LookupCandidates(benchmark::State& state) {
  const KeyData* keyData = keyDataOrSkip(state);
  if (keyData == nullptr) return;
  const Map& map = filledMap<Map>(*keyData);
  size_t visited = 0;
  for (auto _ : state) visited += lookupAll(map, keyData->candidates);
  benchmark::DoNotOptimize(visited);
  state.counters["per_lookup"] =
      benchmark::Counter(static_cast<double>(keyData->candidates.size()),
                         benchmark::Counter::kIsIterationInvariantRate |
                             benchmark::Counter::kInvert);
}

BENCHMARK_TEMPLATE(BM_FillDomainMap, CompactDomainMap)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_FillDomainMap, StdDomainMap)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_LookupCandidates, CompactDomainMap)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_LookupCandidates, StdDomainMap)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quibex::bench
