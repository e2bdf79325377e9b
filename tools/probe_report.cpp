// quibex_probe_report: how evenly the key hash spreads the real lists'
// domain keys over the engine's maps.
//
//   quibex_probe_report FIRST SECOND [REQUESTS_JSON]
//
// Files the rules of both lists into maps of the engine's own types, by the
// engine's filing rules (a request rule with a domain key by list,
// exception flag and "elemhide" option; an element-hiding rule under each
// included site), and prints per map its keys, its slot table and the
// longest and mean probe length of a present key. Given the request
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
#include "engine/host_candidates.h"
#include "engine/keyed_chains.h"
#include "engine/rule_file_reader.h"
#include "filters/elem_hide_filter.h"
#include "filters/request_filter.h"
#include "filters/rule_arena.h"
#include "workload/workload.h"

namespace quibex {
namespace {

// The maps of the engine, filled from the lists as the engine fills them.
class FiledMaps {
 public:
  FiledMaps() = default;
  FiledMaps(const FiledMaps&) = delete;
  FiledMaps& operator=(const FiledMaps&) = delete;
  ~FiledMaps() {
    for (RequestFilter* filter : requestFilters_) filter->~RequestFilter();
  }

  // Files every line of the file at path as a line of list listIndex.
  // Returns false when the file cannot be opened.
  bool fileList(const std::string& path, int listIndex) {
    UniqueFile file(std::fopen(path.c_str(), "r"));
    if (!file) return false;
    RuleFileReader reader(file.get());
    std::string line;
    while (reader.next(line)) {
      if (line.empty()) continue;
      if (line.find("##") != std::string::npos) {
        const ElemHideFilter* rule = ElemHideFilter::fromText(line, arena_);
        if (rule == nullptr) continue;
        for (size_t i = 0; i < rule->includeCount(); ++i) {
          elemHideByDomain.append(rule->includeDomain(i), rule);
        }
        continue;
      }
      RequestFilter* filter = parseRequestFilter(line, arena_);
      if (filter == nullptr) continue;
      requestFilters_.push_back(filter);
      const std::string_view key = filter->domainKeyView();
      if (key.empty()) continue;
      const bool list1 = listIndex != 0;
      DomainFilterMap& map =
          !filter->isException() ? (list1 ? blockingByDomain1 : blockingByDomain0)
          : filter->elemHide()   ? elemHideExceptionsByDomain
                                 : (list1 ? exceptionsByDomain1
                                          : exceptionsByDomain0);
      map.insertFilter(key, filter);
    }
    return true;
  }

  DomainFilterMap exceptionsByDomain1;
  DomainFilterMap blockingByDomain1;
  DomainFilterMap exceptionsByDomain0;
  DomainFilterMap blockingByDomain0;
  DomainFilterMap elemHideExceptionsByDomain;
  KeyedChains<const ElemHideFilter> elemHideByDomain;

 private:
  RuleArena arena_;                            // storage of every rule
  std::vector<RequestFilter*> requestFilters_;  // to destroy at the end
};

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
  FiledMaps maps;
  for (int list = 0; list < 2; ++list) {
    if (!maps.fileList(argv[1 + list], list)) {
      std::fprintf(stderr, "quibex_probe_report: cannot read %s\n",
                   argv[1 + list]);
      return 1;
    }
  }

  std::printf("| map | keys | slots | longest probe | mean probe |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  const struct {
    const char* name;
    const DomainFilterMap* map;
  } requestMaps[] = {
      {"exceptionsByDomain1", &maps.exceptionsByDomain1},
      {"blockingByDomain1", &maps.blockingByDomain1},
      {"exceptionsByDomain0", &maps.exceptionsByDomain0},
      {"blockingByDomain0", &maps.blockingByDomain0},
      {"elemHideExceptionsByDomain", &maps.elemHideExceptionsByDomain},
  };
  for (const auto& row : requestMaps) {
    printRow(row.name, row.map->keyCount(), row.map->probeLengths());
  }
  printRow("elemHideByDomain", maps.elemHideByDomain.keyCount(),
           maps.elemHideByDomain.probeLengths());
  if (argc == 3) return 0;

  Workload workload;
  std::string error;
  if (!loadWorkload(argv[3], &workload, &error)) {
    std::fprintf(stderr, "quibex_probe_report: %s\n", error.c_str());
    return 1;
  }
  // The four request maps in the engine's lane order.
  const DomainFilterMap* const lanes[DomainPresence::kLanes] = {
      &maps.exceptionsByDomain1, &maps.blockingByDomain1,
      &maps.exceptionsByDomain0, &maps.blockingByDomain0};
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
