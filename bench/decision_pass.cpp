// quibex_decision_pass: loads both lists in the accelerated mode and then
// decides every request of one workload once, for instruction counts under
// callgrind (repeatable on a busy machine, unlike wall time):
//
//   quibex_decision_pass none|short|long
//   quibex_decision_pass --list-long | --list-long-pages
//
// "none" only loads; "short" decides the workload of requests.json; "long"
// its long-URL variant. Instructions per decision = (count of short or
// long - count of none) / the number of requests printed. "--list-long"
// prints the long variant's URLs instead, one a line in record order, for
// other engines to be measured on them (scripts/bench_peers_long.sh);
// "--list-long-pages" prints each URL, a tab and its page (the bridge
// benchmark's long workload). Neither holds a tab or a line feed: the
// record URLs and pages of the reference data carry none, and the query
// strings added to them are made of letters, digits, "&=%-._~".
// Exits 0 without deciding anything when the reference data is absent.
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bench_support.h"

int main(int argc, char** argv) {
  using namespace quibex;
  using namespace quibex::bench;
  const bool listLong = argc == 2 && std::strcmp(argv[1], "--list-long") == 0;
  const bool listPages =
      argc == 2 && std::strcmp(argv[1], "--list-long-pages") == 0;
  if (argc != 2 ||
      (!listLong && !listPages && std::strcmp(argv[1], "none") != 0 &&
       std::strcmp(argv[1], "short") != 0 &&
       std::strcmp(argv[1], "long") != 0)) {
    std::fprintf(stderr,
                 "usage: quibex_decision_pass "
                 "none|short|long|--list-long|--list-long-pages\n");
    return 2;
  }
  std::string why;
  const BenchData* data = benchData(&why);
  if (data == nullptr) {
    std::printf("skipped: %s\n", why.c_str());
    return 0;
  }
  if (listLong || listPages) {
    for (const WorkloadRequest& r : data->longRequests) {
      if (listPages) {
        std::printf("%s\t%s\n", r.url.c_str(), r.page.c_str());
      } else {
        std::printf("%s\n", r.url.c_str());
      }
    }
    return 0;
  }
  BenchEngine loaded(*data, MatchMode::kAccelerated);
  const std::vector<WorkloadRequest>& requests =
      std::strcmp(argv[1], "long") == 0 ? data->longRequests
                                        : data->workload.requests;
  size_t decided = 0;
  size_t blocked = 0;
  if (std::strcmp(argv[1], "none") != 0) {
    for (const WorkloadRequest& r : requests) {
      blocked +=
          static_cast<size_t>(loaded.engine().shouldBlock(r.url, r.page));
      ++decided;
    }
  }
  std::printf("%zu requests decided, %zu blocked\n", decided, blocked);
  return 0;
}
