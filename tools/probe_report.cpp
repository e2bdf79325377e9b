// quibex_probe_report: how evenly the key hash spreads the real lists'
// domain keys over the engine's maps.
//
//   quibex_probe_report FIRST SECOND [REQUESTS_JSON]
//
// Loads both lists into an engine and prints, per domain map and for the
// element-hiding site index, its keys, its slot table and the longest and
// mean probe length of a present key. Given the request
// records, it then looks every host candidate of every request up in the
// presence filter over the four request maps and counts how often it lets
// a candidate through that none of them holds.
//
// Every figure depends only on the lists and the hash values, so two builds
// print the same report exactly when they hash alike: the cross builds'
// tests compare theirs with the native build's byte for byte.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/domain_filter_map.h"
#include "engine/domain_presence.h"
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
  // The four request maps of the block decision, by their presence lane.
  const DomainFilterMap* lanes[DomainPresence::kLanes] = {};
  for (const RequestContainer& container :
       FilterEngineImpl::kRequestContainers) {
    if (!container.keyed) continue;
    const DomainFilterMap& map = engine.domainMap(container);
    printRow(container.member, map.keyCount(), map.probeLengths());
    if (container.decides()) lanes[container.slot] = &map;
  }
  const KeyedChains<const ElemHideFilter>& sites = engine.siteIndex();
  printRow("elemHideByDomain", sites.keyCount(), sites.probeLengths());
  if (argc == 3) return 0;

  Workload workload;
  std::string error;
  if (!loadWorkload(argv[3], &workload, &error)) {
    std::fprintf(stderr, "quibex_probe_report: %s\n", error.c_str());
    return 1;
  }
  DomainPresence presence;
  presence.rebuild(lanes);
  size_t candidates = 0;
  size_t absent = 0;       // in none of the four maps
  size_t letThrough = 0;   // absent, yet some lane says it may be there
  CandidateList list;
  for (const WorkloadRequest& request : workload.requests) {
    list.assign(extractHostView(request.url, nullptr));
    for (const CandidateList::Candidate& candidate : list) {
      ++candidates;
      bool held = false;
      for (const DomainFilterMap* map : lanes) {
        held = held || map->find(candidate.text) != DomainFilterMap::kNoChain;
      }
      if (held) continue;
      ++absent;
      letThrough += presence.lanes(candidate.hash) != 0 ? 1 : 0;
    }
  }
  std::printf(
      "\nhost candidates of the requests: %zu, in no request map: %zu, "
      "let through by the presence filter: %zu\n",
      candidates, absent, letThrough);
  return 0;
}

}  // namespace
}  // namespace quibex

int main(int argc, char** argv) { return quibex::run(argc, argv); }
