// Reference data, loaded engines, parsed rules and domain keys; see
// bench_support.h.
#include "bench/bench_support.h"

#include <sys/stat.h>

#include "engine/host_candidates.h"
#include "engine/rule_file_reader.h"
#include "filters/rule_line.h"

namespace quibex::bench {
namespace {

bool isRegularFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The reference data, read once.
struct DataHolder {
  BenchData data;     // valid when ok
  bool ok = false;    // everything was read
  std::string error;  // why not, when !ok
};

DataHolder readData() {
  DataHolder holder;
  holder.data.firstPath = dataFile("easylist.txt");
  holder.data.secondPath = dataFile("easyprivacy.txt");
  const std::string requests = dataFile("requests.json");
  if (holder.data.firstPath.empty() || holder.data.secondPath.empty() ||
      requests.empty()) {
    holder.error = std::string("reference data absent from ") +
                   QUIBEX_DATA_DIR;
    return holder;
  }
  if (!loadWorkload(requests, &holder.data.workload, &holder.error)) {
    return holder;
  }
  holder.ok = true;
  return holder;
}

}  // namespace

std::string dataFile(const std::string& name) {
  const std::string path = std::string(QUIBEX_DATA_DIR) + "/" + name;
  return isRegularFile(path) ? path : std::string();
}

const BenchData* benchData(std::string* why) {
  static const DataHolder holder = readData();
  if (!holder.ok) {
    *why = holder.error;
    return nullptr;
  }
  return &holder.data;
}

const char* modeName(MatchMode mode) {
  return mode == MatchMode::kPlain ? "plain" : "accelerated";
}

BenchEngine::BenchEngine(const BenchData& data, MatchMode mode) {
  EngineOptions options;
  options.matchMode = mode;
  engine_ = std::make_unique<FilterEngineImpl>(decoder_, options);
  engine_->loadRules(data.firstPath, data.secondPath);
  engine_->waitForLoads();
}

ParsedRules parseRules(const BenchData& data) {
  ParsedRules rules;
  PassThroughDecoder decoder;
  for (const std::string* path : {&data.firstPath, &data.secondPath}) {
    UniqueFile file(std::fopen(path->c_str(), "r"));
    if (!file) continue;
    RuleFileReader reader(file.get());
    std::string stored, line;
    while (reader.next(&stored)) {
      if (!decoder.decryptLine(stored, &line)) continue;
      switch (routeRuleLine(line)) {
        case RuleLineKind::kComment:
          break;
        case RuleLineKind::kElemHide:
          if (auto rule = ElemHideFilter::fromText(line)) {
            rules.elemHide.push_back(std::move(rule));
          }
          break;
        case RuleLineKind::kRequest:
          if (auto rule = parseRequestFilter(line)) {
            rules.requests.push_back(std::move(rule));
          }
          break;
      }
    }
  }
  return rules;
}

std::vector<KeyedItem> domainKeys(const ParsedRules& rules) {
  std::vector<KeyedItem> keys;
  for (const auto& rule : rules.requests) {
    const std::string_view key = rule->domainKeyView();
    if (!key.empty()) keys.push_back(KeyedItem{key, rule.get()});
  }
  for (const auto& rule : rules.elemHide) {
    for (size_t i = 0; i < rule->includeCount(); ++i) {
      keys.push_back(KeyedItem{rule->includeDomain(i), rule.get()});
    }
  }
  return keys;
}

std::vector<std::string> workloadCandidates(const Workload& workload) {
  std::vector<std::string> candidates;
  for (const WorkloadRequest& request : workload.requests) {
    if (request.url.empty()) continue;
    for (std::string& candidate :
         domainCandidates(extractHostView(request.url, nullptr))) {
      candidates.push_back(std::move(candidate));
    }
  }
  return candidates;
}

}  // namespace quibex::bench
