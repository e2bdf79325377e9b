// Reference data, loaded engines, parsed rules and domain keys; see
// bench_support.h.
#include "bench/bench_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>

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
    holder.error = std::string("reference data absent from ") + QUIBEX_DATA_DIR;
    return holder;
  }
  if (!loadWorkload(requests, &holder.data.workload, &holder.error)) {
    return holder;
  }
  holder.data.longRequests = longUrlRequests(holder.data.workload);
  holder.ok = true;
  return holder;
}

// A URL as a query value: every byte but letters, digits and "-._~" as
// %XX.
std::string percentEncoded(const std::string& url) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : url) {
    const unsigned char u = static_cast<unsigned char>(c);
    const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                       (u >= '0' && u <= '9') || c == '-' || c == '.' ||
                       c == '_' || c == '~';
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

bool writeFile(const std::string& path, const std::string& content) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok =
      std::fwrite(content.data(), 1, content.size(), file) == content.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace

std::vector<WorkloadRequest> longUrlRequests(const Workload& workload) {
  static constexpr const char* kKeys[] = {
      "utm_source", "utm_medium", "utm_campaign", "ref",        "cb",
      "sid",        "gclid",      "fbclid",       "u",          "url",
      "ts",         "v",          "lang",         "w",          "h",
      "pid",        "dt",         "client",       "correlator", "redirect",
      "cid",        "ord",        "tag",          "z"};
  static constexpr const char kWord[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::mt19937 rng(19);  // mt19937's sequence is fixed by the standard
  std::vector<WorkloadRequest> out;
  out.reserve(workload.records);
  for (size_t i = 0; i < workload.records; ++i) {
    const WorkloadRequest& record = workload.requests[i];
    if (record.url.empty()) continue;
    const size_t target = kLongUrlMin + rng() % (kLongUrlMax - kLongUrlMin + 1);
    std::string url = record.url;
    // A URL without a path gets "/" before its query, as a browser sends it.
    const size_t scheme = url.find("://");
    const size_t hostStart = scheme == std::string::npos ? 0 : scheme + 3;
    if (url.find_first_of("/?#", hostStart) == std::string::npos) url += '/';
    char joint = url.find('?') == std::string::npos ? '?' : '&';
    while (url.size() < target) {
      std::string value;
      switch (rng() % 4) {
        case 0:  // an encoded URL: another record's
          value =
              percentEncoded(workload.requests[rng() % workload.records].url);
          break;
        case 1:
          value = std::to_string(rng());
          break;
        default:
          for (size_t n = 4 + rng() % 20; n > 0; --n) {
            value += kWord[rng() % (sizeof(kWord) - 1)];
          }
      }
      url += joint;
      url += kKeys[rng() % (sizeof(kKeys) / sizeof(kKeys[0]))];
      url += '=';
      url += value;
      joint = '&';
    }
    // A long last value is cut, but not inside a %XX escape.
    if (url.size() > kLongUrlMax && record.url.size() < kLongUrlMax) {
      size_t end = kLongUrlMax;
      if (url[end - 1] == '%') end -= 1;
      if (url[end - 2] == '%') end -= 2;
      url.resize(end);
    }
    out.push_back(WorkloadRequest{std::move(url), record.page});
  }
  return out;
}

std::unique_ptr<BenchEngine> textEngine(const std::string& firstRules,
                                        const std::string& secondRules,
                                        MatchMode mode) {
  char folder[] = "/tmp/quibex-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) {
    return std::make_unique<BenchEngine>("", "", mode);
  }
  const std::string first = std::string(folder) + "/first.txt";
  const std::string second = std::string(folder) + "/second.txt";
  std::unique_ptr<BenchEngine> engine;
  if (writeFile(first, firstRules) && writeFile(second, secondRules)) {
    engine = std::make_unique<BenchEngine>(first, second, mode);
  } else {
    engine = std::make_unique<BenchEngine>("", "", mode);
  }
  std::remove(first.c_str());
  std::remove(second.c_str());
  ::rmdir(folder);
  return engine;
}

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

BenchEngine::BenchEngine(const std::string& firstPath,
                         const std::string& secondPath, MatchMode mode) {
  EngineOptions options;
  options.matchMode = mode;
  engine_ = std::make_unique<FilterEngineImpl>(decoder_, options);
  engine_->loadRules(firstPath, secondPath);
  engine_->waitForLoads();
}

ParsedRules parseRules(const BenchData& data) {
  ParsedRules rules;
  PassThroughDecoder decoder;
  for (const std::string* path : {&data.firstPath, &data.secondPath}) {
    UniqueFile file(std::fopen(path->c_str(), "r"));
    if (!file) continue;
    readRuleLines(
        file.get(), &decoder,
        [&rules](size_t, std::string_view line) {
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
        },
        [](size_t) {});
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
