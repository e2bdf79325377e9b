// What the benchmarks and the report share: where the reference data lives,
// the rule files and request workload read from it, engines loaded from the
// rule files, the process's memory figures, the real lists' domain keys and
// the adversarial request URL.
#ifndef QUIBEX_BENCH_BENCH_SUPPORT_H_
#define QUIBEX_BENCH_BENCH_SUPPORT_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/filter_engine_impl.h"
#include "engine/line_decoder.h"
#include "filters/elem_hide_filter.h"
#include "filters/request_filter.h"
#include "workload/workload.h"

namespace quibex::bench {

// Path of a file of the reference data folder, or "" when it is absent.
std::string dataFile(const std::string& name);

// The benchmark inputs: the two rule files (first, then second) and every
// request of the workload.
struct BenchData {
  std::string firstPath;   // easylist.txt, read with listIndex 0
  std::string secondPath;  // easyprivacy.txt, read with listIndex 1
  Workload workload;       // every record, then every page as a request
};

// Reads the reference data on the first call and keeps it for the rest of
// the process. Returns null, with the reason in *why, when the folder or one
// of its files is absent or unreadable.
// Thread-safety: safe from any thread (function-local static).
const BenchData* benchData(std::string* why);

// "plain" or "accelerated".
const char* modeName(MatchMode mode);

// A pass-through decoder and an engine loaded from both rule files in one
// match mode; the load has finished when the constructor returns.
//
// Thread-safety: as FilterEngineImpl.
class BenchEngine {
 public:
  BenchEngine(const BenchData& data, MatchMode mode);
  BenchEngine(const BenchEngine&) = delete;
  BenchEngine& operator=(const BenchEngine&) = delete;

  // Valid for the lifetime of this object.
  FilterEngineImpl& engine() { return *engine_; }

 private:
  PassThroughDecoder decoder_;                // outlives engine_
  std::unique_ptr<FilterEngineImpl> engine_;  // the loaded engine
};

// Bytes currently handed out by malloc, over every arena and including the
// separately mapped large blocks (mallinfo2 uordblks + hblkhd).
size_t heapBytesInUse();

// Every line of both rule files, read, routed and parsed as the engine's
// line intake does it (RuleFileReader, PassThroughDecoder, routeRuleLine);
// comments and rejected lines are dropped.
struct ParsedRules {
  std::vector<std::unique_ptr<RequestFilter>> requests;  // both files
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

// The domain candidates of the host of every workload request (empty
// requests and one-label hosts contribute none), in request order.
std::vector<std::string> workloadCandidates(const Workload& workload);

// A request built to make matching expensive while deciding nothing.
struct AdversarialRequest {
  std::string url;          // exactly the requested number of bytes
  std::string pageUrl;      // a third-party page, so party rules are tried
  size_t tokens = 0;        // distinct rule tokens placed in the URL
  size_t literals = 0;      // distinct literal prefixes repeated in the URL
  size_t droppedRules = 0;  // rules whose pieces had to be left out
  bool verified = false;    // the verifier found no matching rule
  std::string unavoidableRule;  // when not verified: the rule that matched
};

// Builds a URL of `bytes` bytes on a host no rule is keyed under, made of
// (1) every token the generic rules can be indexed under, each once, so the
// token index yields nearly every generic rule, and then (2) long runs of
// the first characters (all but the last) of the rules' literal pieces,
// cycled until the URL is full, so each candidate's skip search finds its
// first characters over and over without ever completing its literal. Every
// piece is closed by a byte that no rule pattern contains. The URL ends in
// ".js" so that script rules reach the pattern match. Checked with
// verifier: whenever a rule matches, the pieces taken from that rule (and
// those containing its literals) are left out and the URL is built again;
// verified tells whether that ended with no rule matching. Without
// includeTokens part (1) is left out, which shows what the token index
// alone saves against literal runs.
// REQUIRES: verifier is loaded from the same data; bytes >= 64.
AdversarialRequest buildAdversarialRequest(const ParsedRules& rules,
                                           FilterEngineImpl& verifier,
                                           size_t bytes,
                                           bool includeTokens = true);

}  // namespace quibex::bench

#endif  // QUIBEX_BENCH_BENCH_SUPPORT_H_
