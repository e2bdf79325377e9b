// quibex_probe_report: how evenly the key hash spreads the real lists'
// domain keys over the engine's maps.
//
//   quibex_probe_report FIRST SECOND [REQUESTS_JSON]
//
// Loads both lists into an engine and prints the keys of each keyed
// request container, and for the shared request domain table and the
// element-hiding site index their keys, slot table and the longest and mean
// probe length of a present key. Given the request records, it then looks
// every host candidate of every request up in the domain table and counts
// those held.
//
// Every figure depends only on the lists and the hash values, so two builds
// print the same report exactly when they hash alike: the cross builds'
// tests compare theirs with the native build's byte for byte.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/domain_lane.h"
#include "engine/domain_rule_table.h"
#include "engine/filter_engine_impl.h"
#include "engine/host_candidates.h"
#include "engine/keyed_chains.h"
#include "engine/line_decoder.h"
#include "engine/rule_file_reader.h"
#include "filters/elem_hide_filter.h"
#include "workload/workload.h"

namespace quibex {
namespace {

void printRow(const char* name, size_t keys, const ProbeLengths& probes) {
  const double mean =
      keys == 0 ? 0.0 : static_cast<double>(probes.total) / keys;
  std::printf("| %s | %zu | %zu | %u | %.4f |\n", name, keys, probes.slots,
              probes.longest, mean);
}

int run(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fputs("usage: quibex_probe_report FIRST SECOND [REQUESTS_JSON]\n",
               stderr);
    return 2;
  }
  for (int list = 0; list < 2; ++list) {
    const UniqueFile file(std::fopen(argv[1 + list], "r"));
    if (!file) {
      std::fprintf(stderr, "quibex_probe_report: cannot read %s\n",
                   argv[1 + list]);
      return 1;
    }
  }
  PassThroughDecoder decoder;
  FilterEngineImpl engine(decoder);
  engine.loadRules(argv[1], argv[2]);
  engine.waitForLoads();

  std::printf("| map | keys | slots | longest probe | mean probe |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  // Every keyed request container is a lane of one table: a row of keys
  // for each, then the table's own probe lengths.
  for (const RequestContainer& container :
       FilterEngineImpl::kRequestContainers) {
    if (!container.keyed) continue;
    std::printf("| %s | %zu | | | |\n", container.member,
                engine.domainMap(container).keyCount());
  }
  const DomainRuleTable& table = engine.domainTable();
  printRow("request domain table", table.keyCount(), table.probeLengths());
  const KeyedChains<const ElemHideFilter>& sites = engine.siteIndex();
  printRow("elemHideByDomain", sites.keyCount(), sites.probeLengths());
  if (argc == 3) return 0;

  Workload workload;
  std::string error;
  if (!loadWorkload(argv[3], &workload, &error)) {
    std::fprintf(stderr, "quibex_probe_report: %s\n", error.c_str());
    return 1;
  }
  size_t candidates = 0;
  size_t held = 0;  // under a key of the request domain table
  CandidateList list;
  for (const WorkloadRequest& request : workload.requests) {
    list.assign(extractHostView(request.url, nullptr));
    list.forEachCandidate([&](std::string_view candidate, const char*) {
      ++candidates;
      held +=
          table.find(candidate, hashKey(candidate)) != DomainRuleTable::kNoEntry
              ? 1
              : 0;
    });
  }
  std::printf(
      "\nhost candidates of the requests: %zu, under a request rule key: "
      "%zu\n",
      candidates, held);
  return 0;
}

}  // namespace
}  // namespace quibex

int main(int argc, char** argv) { return quibex::run(argc, argv); }
