// The engine on the real lists, every benchmark in both match modes so that
// each run shows the ratio: loading both rule files, shouldBlock over the
// whole request workload and over its long-URL variant, getSelectors per
// page, one decision on a 1 MiB adversarial request URL, and one on each
// dense-key shape. Each benchmark of the real lists skips when the
// reference data is absent; the dense-key shapes need none.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/adversarial_request.h"
#include "bench/bench_support.h"

namespace quibex::bench {
namespace {

// The reference data, or null after marking the benchmark skipped.
const BenchData* dataOrSkip(benchmark::State& state) {
  std::string why;
  const BenchData* data = benchData(&why);
  if (data == nullptr) state.SkipWithError(why.c_str());
  return data;
}

// One loaded engine per mode for the whole run: Google Benchmark calls a
// benchmark function several times while it settles the iteration count.
FilterEngineImpl& loadedEngine(const BenchData& data, MatchMode mode) {
  static std::unique_ptr<BenchEngine> engines[2];
  std::unique_ptr<BenchEngine>& slot =
      engines[mode == MatchMode::kPlain ? 1 : 0];
  if (!slot) slot = std::make_unique<BenchEngine>(data, mode);
  return slot->engine();
}

// The adversarial request, built once (checked with the accelerated
// engine: it must decide nothing).
const AdversarialRequest& adversarialRequest(const BenchData& data) {
  static const AdversarialRequest request = [&data] {
    const ParsedRules rules = parseRules(data);
    return buildAdversarialRequest(
        rules, loadedEngine(data, MatchMode::kAccelerated), size_t{1} << 20);
  }();
  return request;
}

// Seconds per item, printed like a time.
benchmark::Counter perItem(double itemsPerIteration) {
  return benchmark::Counter(itemsPerIteration,
                            benchmark::Counter::kIsIterationInvariantRate |
                                benchmark::Counter::kInvert);
}

// Wall time of a fresh engine loading both files (constructor, loadRules,
// waitForLoads); destroying it is not timed. The load runs on the engine's
// own thread, so the CPU column is the whole process's.
template <MatchMode kMode>
void BM_LoadBothFiles(benchmark::State& state) {
  const BenchData* data = dataOrSkip(state);
  if (data == nullptr) return;
  EngineStats stats;
  for (auto _ : state) {
    auto engine = std::make_unique<BenchEngine>(*data, kMode);
    state.PauseTiming();
    stats = engine->engine().stats();
    engine.reset();
    state.ResumeTiming();
  }
  state.counters["rules"] =
      static_cast<double>(stats.requestRules + stats.elemHideRules);
}

// shouldBlock over every request of the workload, one pass per iteration.
template <MatchMode kMode>
void BM_ShouldBlock(benchmark::State& state) {
  const BenchData* data = dataOrSkip(state);
  if (data == nullptr) return;
  FilterEngineImpl& engine = loadedEngine(*data, kMode);
  const auto& requests = data->workload.requests;
  size_t blocked = 0;
  for (auto _ : state) {
    for (const WorkloadRequest& r : requests) {
      blocked += static_cast<size_t>(engine.shouldBlock(r.url, r.page));
    }
  }
  benchmark::DoNotOptimize(blocked);
  const double perPass = static_cast<double>(requests.size());
  state.SetItemsProcessed(state.iterations() *
                          static_cast<int64_t>(requests.size()));
  state.counters["per_request"] = perItem(perPass);
  state.counters["blocked"] =
      static_cast<double>(blocked) / static_cast<double>(state.iterations());
}

// shouldBlock over every request of the long-URL workload (records with
// query strings of 100 to 400 bytes), one pass per iteration.
template <MatchMode kMode>
void BM_ShouldBlockLongUrls(benchmark::State& state) {
  const BenchData* data = dataOrSkip(state);
  if (data == nullptr) return;
  FilterEngineImpl& engine = loadedEngine(*data, kMode);
  const auto& requests = data->longRequests;
  size_t blocked = 0;
  for (auto _ : state) {
    for (const WorkloadRequest& r : requests) {
      blocked += static_cast<size_t>(engine.shouldBlock(r.url, r.page));
    }
  }
  benchmark::DoNotOptimize(blocked);
  state.SetItemsProcessed(state.iterations() *
                          static_cast<int64_t>(requests.size()));
  state.counters["per_request"] = perItem(static_cast<double>(requests.size()));
  state.counters["blocked"] =
      static_cast<double>(blocked) / static_cast<double>(state.iterations());
}

// One decision on a dense-key shape (denseKeyShapes(), by index): a long
// literal rule against a long URL that repeats its key, or a page whose
// long site key the URL repeats but for its end.
template <MatchMode kMode>
void BM_DenseKeyShape(benchmark::State& state) {
  const DenseKeyShape shape =
      denseKeyShapes()[static_cast<size_t>(state.range(0))];
  const std::unique_ptr<BenchEngine> engine = textEngine(shape.rule, "", kMode);
  int answer = shape.blocked;
  for (auto _ : state) {
    answer = engine->engine().shouldBlock(shape.url, shape.pageUrl);
  }
  if (answer != shape.blocked) state.SkipWithError("wrong answer");
  state.SetLabel(shape.name);
}

// getSelectors for every page of the workload, the page being the document.
template <MatchMode kMode>
void BM_GetSelectors(benchmark::State& state) {
  const BenchData* data = dataOrSkip(state);
  if (data == nullptr) return;
  FilterEngineImpl& engine = loadedEngine(*data, kMode);
  const auto& pages = data->workload.pages;
  const std::string noReferrer;
  size_t selectors = 0;
  for (auto _ : state) {
    for (const std::string& page : pages) {
      selectors += engine.getSelectors(page, page, noReferrer).size();
    }
  }
  benchmark::DoNotOptimize(selectors);
  state.SetItemsProcessed(state.iterations() *
                          static_cast<int64_t>(pages.size()));
  state.counters["per_page"] = perItem(static_cast<double>(pages.size()));
}

// One decision on the 1 MiB adversarial request URL.
template <MatchMode kMode>
void BM_AdversarialRequest(benchmark::State& state) {
  const BenchData* data = dataOrSkip(state);
  if (data == nullptr) return;
  const AdversarialRequest& request = adversarialRequest(*data);
  if (!request.verified) {
    const std::string why =
        "no arrangement avoids the rule " + request.unavoidableRule;
    state.SkipWithError(why.c_str());
    return;
  }
  FilterEngineImpl& engine = loadedEngine(*data, kMode);
  int blocked = 0;
  for (auto _ : state) {
    blocked |= engine.shouldBlock(request.url, request.pageUrl);
  }
  if (blocked != 0) {
    state.SkipWithError("the adversarial request was blocked");
    return;
  }
  state.counters["url_bytes"] = static_cast<double>(request.url.size());
  state.counters["rule_tokens"] = static_cast<double>(request.tokens);
  state.counters["literal_runs"] = static_cast<double>(request.literals);
}

BENCHMARK_TEMPLATE(BM_LoadBothFiles, MatchMode::kAccelerated)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_TEMPLATE(BM_LoadBothFiles, MatchMode::kPlain)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_TEMPLATE(BM_ShouldBlock, MatchMode::kAccelerated)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_ShouldBlock, MatchMode::kPlain)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_ShouldBlockLongUrls, MatchMode::kAccelerated)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_ShouldBlockLongUrls, MatchMode::kPlain)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_GetSelectors, MatchMode::kAccelerated)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_GetSelectors, MatchMode::kPlain)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_AdversarialRequest, MatchMode::kAccelerated)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_AdversarialRequest, MatchMode::kPlain)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_DenseKeyShape, MatchMode::kAccelerated)
    ->DenseRange(0, 4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_TEMPLATE(BM_DenseKeyShape, MatchMode::kPlain)
    ->DenseRange(0, 4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace quibex::bench
