// What the benchmarks and the report share: where the reference data lives,
// the rule files and request workload read from it, engines loaded from the
// rule files, the real lists' rules and domain keys, and (from
// load_memory.h) the heap in use. The adversarial request has a file of its
// own: adversarial_request.h.
#ifndef QUIBEX_BENCH_BENCH_SUPPORT_H_
#define QUIBEX_BENCH_BENCH_SUPPORT_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench/load_memory.h"
#include "engine/filter_engine_impl.h"
#include "engine/line_decoder.h"
#include "filters/elem_hide_filter.h"
#include "filters/request_filter.h"
#include "workload/workload.h"

namespace quibex::bench {

// Path of a file of the reference data folder, or "" when it is absent.
std::string dataFile(const std::string& name);

// The benchmark inputs: the two rule files (first, then second), every
// request of the workload, and the long-URL workload made from it.
struct BenchData {
  std::string firstPath;   // easylist.txt, read with listIndex 0
  std::string secondPath;  // easyprivacy.txt, read with listIndex 1
  Workload workload;       // every record, then every page as a request
  // Every record's URL with a query string added (longUrlRequests()).
  std::vector<WorkloadRequest> longRequests;
};

// Bounds of the long-URL workload's URL lengths, in bytes.
constexpr size_t kLongUrlMin = 100;
constexpr size_t kLongUrlMax = 400;

// The records of workload with a URL (not the pages asked as requests),
// each with a
// query string of several key=value pairs appended ("?" or "&"): common
// tracking keys with short words, numbers and percent-encoded URLs of other
// records as values, to a length drawn from [kLongUrlMin, kLongUrlMax]
// (a record URL longer than that keeps its own length); a URL without a
// path first gets "/", as a browser sends it. The page stays the
// record's. Deterministic: the same records give the same requests on every
// machine.
std::vector<WorkloadRequest> longUrlRequests(const Workload& workload);

// Reads the reference data on the first call and keeps it for the rest of
// the process. Returns null, with the reason in *why, when the folder or one
// of its files is absent or unreadable.
// Thread-safety: safe from any thread (function-local static).
const BenchData* benchData(std::string* why);

// "plain" or "accelerated".
const char* modeName(MatchMode mode);

// A pass-through decoder and an engine loaded from two rule files in one
// match mode; the load has finished when the constructor returns.
//
// Thread-safety: as FilterEngineImpl.
class BenchEngine {
 public:
  BenchEngine(const std::string& firstPath, const std::string& secondPath,
              MatchMode mode);
  // The engine of both reference lists.
  BenchEngine(const BenchData& data, MatchMode mode)
      : BenchEngine(data.firstPath, data.secondPath, mode) {}
  BenchEngine(const BenchEngine&) = delete;
  BenchEngine& operator=(const BenchEngine&) = delete;

  // Valid for the lifetime of this object.
  FilterEngineImpl& engine() { return *engine_; }

 private:
  PassThroughDecoder decoder_;                // outlives engine_
  std::unique_ptr<FilterEngineImpl> engine_;  // the loaded engine
};

// Every line of both rule files, read, routed and parsed as the engine's
// line intake does it (RuleFileReader, PassThroughDecoder, routeRuleLine);
// comments and rejected lines are dropped.
struct ParsedRules {
  std::vector<std::unique_ptr<RequestFilter>> requests;   // both files
  std::vector<std::unique_ptr<ElemHideFilter>> elemHide;  // both files
};
ParsedRules parseRules(const BenchData& data);

// The keys the engine files rules under, as views into rules: the domain key
// of every request rule that has one, and every included site of every
// element-hiding rule, in file order. Each comes with the rule it files.
// REQUIRES: rules outlives the result.
struct KeyedItem {
  std::string_view key;  // a view into the rule's own text
  const void* item;      // the rule
};
std::vector<KeyedItem> domainKeys(const ParsedRules& rules);

// An engine in the given mode loaded from rule texts instead of files (the
// texts are written to a temporary folder, removed once loaded; an engine
// without rules when the folder cannot be written).
std::unique_ptr<BenchEngine> textEngine(const std::string& firstRules,
                                        const std::string& secondRules,
                                        MatchMode mode);

// The domain candidates of the host of every workload request (empty
// requests and one-label hosts contribute none), in request order.
std::vector<std::string> workloadCandidates(const Workload& workload);

}  // namespace quibex::bench

#endif  // QUIBEX_BENCH_BENCH_SUPPORT_H_
