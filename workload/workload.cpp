// Reading the request records with nlohmann/json.
#include "workload/workload.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <unordered_set>

namespace quibex {

bool loadWorkload(const std::string& path, Workload* workload,
                  std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  const nlohmann::json records = nlohmann::json::parse(in, nullptr, false);
  if (records.is_discarded() || !records.is_array()) {
    *error = path + " is not a JSON array";
    return false;
  }
  Workload out;
  std::unordered_set<std::string> seen;
  for (const nlohmann::json& record : records) {
    if (!record.is_object()) continue;
    const auto url = record.find("url");
    if (url == record.end() || !url->is_string()) continue;
    const auto source = record.find("sourceUrl");
    std::string page;
    if (source != record.end() && source->is_string()) {
      page = source->get<std::string>();
    }
    out.requests.push_back(WorkloadRequest{url->get<std::string>(), page});
    if (!page.empty() && seen.insert(page).second) out.pages.push_back(page);
  }
  out.records = out.requests.size();
  for (const std::string& page : out.pages) {
    out.requests.push_back(WorkloadRequest{page, ""});
  }
  *workload = std::move(out);
  return true;
}

}  // namespace quibex
