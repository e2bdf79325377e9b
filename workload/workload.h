// The request workload of the shared reference data: the request records
// (request URL and page URL) and the pages they were made from. Used by the
// tests, the benchmarks and the tool's end-to-end tests.
#ifndef QUIBEX_WORKLOAD_WORKLOAD_H_
#define QUIBEX_WORKLOAD_WORKLOAD_H_

#include <string>
#include <vector>

namespace quibex {

struct WorkloadRequest {
  std::string url;   // the request URL
  std::string page;  // the page URL, possibly empty
};

struct Workload {
  // Every record, then every distinct page URL asked as a request with an
  // empty page, in order of first appearance.
  std::vector<WorkloadRequest> requests;
  // The distinct non-empty page URLs, in order of first appearance.
  std::vector<std::string> pages;
  size_t records = 0;  // how many of requests are records
};

// Reads requests.json (an array of objects with "url" and "sourceUrl").
// Returns false with a message in *error when it cannot be read or parsed.
bool loadWorkload(const std::string& path, Workload* workload,
                  std::string* error);

}  // namespace quibex

#endif  // QUIBEX_WORKLOAD_WORKLOAD_H_
