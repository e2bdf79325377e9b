// quibex_bench_report: loads the real lists in each match mode and prints a
// Markdown table of load time, shouldBlock mean and latency percentiles,
// getSelectors per page, resident and heap memory, bytes per rule and the
// 1 MiB adversarial request, plain and accelerated side by side with their
// ratio and the targets; then the domain-map layout comparison.
//
//   quibex_bench_report [--loads N] [--passes N] [--plain-passes N]
//                       [--adversarial-runs N]
//
// Every figure is measured first (collect()) and printed afterwards
// (print()); the targets stand in one table, kTargets, from which both
// their text and their test are derived. Memory is measured in a fresh
// child process per mode (the same program started with --memory-child
// MODE), so that pages freed by earlier work cannot hide what a load adds.
// Exits 0 without a table when the reference data is absent.
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "bench/adversarial_request.h"
#include "bench/bench_support.h"
#include "bench/domain_map_compare.h"

namespace quibex::bench {
namespace {

using Clock = std::chrono::steady_clock;

double nanosSince(Clock::time_point start) {
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

// CPU time consumed so far by the process or the calling thread, in ns.
// Other processes on the machine inflate wall times, not these.
double cpuNanos(clockid_t clock) {
  timespec now;
  if (::clock_gettime(clock, &now) != 0) return 0;
  return static_cast<double>(now.tv_sec) * 1e9 +
         static_cast<double>(now.tv_nsec);
}

// The first line of /proc/loadavg: how busy the machine was.
std::string loadAverage() {
  std::FILE* file = std::fopen("/proc/loadavg", "r");
  if (file == nullptr) return "unknown";
  char text[128] = {0};
  const bool ok = std::fgets(text, sizeof text, file) != nullptr;
  std::fclose(file);
  std::string line = ok ? text : "unknown";
  while (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

struct Options {
  int loads = 9;            // loads per mode; the median is reported
  int passes = 6;           // workload passes, the first one a warm-up
  int plainPasses = 3;      // the same for the plain mode
  int adversarialRuns = 3;  // decisions on the adversarial request
};

// What loading both files adds to a fresh process.
struct MemoryFigures {
  bool ok = false;           // the child reported
  double residentAdded = 0;  // VmRSS after minus before, bytes
  double heapAdded = 0;      // heap bytes after minus before
  double rules = 0;          // request rules + element-hiding rules
  double indexBytes = 0;     // stats().indexBytes
};

// Every figure of one mode.
struct ModeFigures {
  MatchMode mode = MatchMode::kAccelerated;
  double loadMs = 0;          // median wall time of a load
  double loadCpuMs = 0;       // median process CPU time of a load
  double blockMeanNs = 0;     // shouldBlock, whole passes / requests
  double blockMeanCpuNs = 0;  // the same in thread CPU time
  double p50 = 0, p90 = 0, p99 = 0, max = 0;     // per request, ns
  double bestP50 = 0, bestP99 = 0, bestMax = 0;  // best pass per request
  double selectorsMeanNs = 0;                    // getSelectors per page
  MemoryFigures memory;
  double adversarialMs = 0;       // median decision time
  int adversarialAnswer = -1;     // the decision
  double longMeanNs = 0;          // shouldBlock on long URLs, per request
  std::vector<int> longAnswers;   // shouldBlock per long-URL request
  double denseWorstMs = 0;        // slowest dense-key shape, median decision
  std::vector<double> denseMs;    // each dense-key shape, median decision
  bool denseAnswersRight = true;  // every shape got its answer
  std::vector<int> answers;       // shouldBlock per workload request
  size_t selectorCount = 0;       // selectors over all pages, one pass
  size_t unstableAnswers = 0;     // answers that changed between passes
};

// Closes a file descriptor when its owner goes away.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;  // the descriptor, -1 when none
};

// Runs this program again with args and returns what it printed.
std::string runSelf(const std::vector<std::string>& args) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  FileDescriptor readEnd(fds[0]);
  FileDescriptor writeEnd(fds[1]);
  std::vector<char*> argv;
  std::string self = "quibex_bench_report";
  argv.push_back(self.data());
  std::vector<std::string> copies(args);
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return {};
  if (pid == 0) {
    ::dup2(writeEnd.get(), STDOUT_FILENO);
    ::close(readEnd.get());
    ::close(writeEnd.get());
    ::execv("/proc/self/exe", argv.data());
    ::_exit(127);
  }
  writeEnd.reset();
  std::string output;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
    if (n <= 0) break;
    output.append(buffer, static_cast<size_t>(n));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return output;
}

// The child side: load both files and print what that added.
int memoryChild(MatchMode mode) {
  // Paths only: reading the workload would pre-grow the heap.
  const std::string first = dataFile("easylist.txt");
  const std::string second = dataFile("easyprivacy.txt");
  if (first.empty() || second.empty()) return 1;
  const LoadMemory m = measureLoadMemory(first, second, mode);
  std::printf("%zu %zu %zu %zu %zu %zu %zu\n", m.residentBefore,
              m.residentAfter, m.heapBefore, m.heapAfter, m.requestRules,
              m.elemHideRules, m.indexBytes);
  return 0;
}

MemoryFigures measureMemory(MatchMode mode) {
  MemoryFigures figures;
  std::istringstream in(runSelf({"--memory-child", modeName(mode)}));
  double rssBefore, rssAfter, heapBefore, heapAfter, requestRules,
      elemHideRules, indexBytes;
  if (!(in >> rssBefore >> rssAfter >> heapBefore >> heapAfter >>
        requestRules >> elemHideRules >> indexBytes)) {
    return figures;
  }
  figures.ok = true;
  figures.residentAdded = rssAfter - rssBefore;
  figures.heapAdded = heapAfter - heapBefore;
  figures.rules = requestRules + elemHideRules;
  figures.indexBytes = indexBytes;
  return figures;
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Nearest-rank percentile of sorted samples.
double percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  size_t rank =
      static_cast<size_t>(std::ceil(p * static_cast<double>(sorted.size())));
  rank = std::clamp<size_t>(rank, 1, sorted.size());
  return sorted[rank - 1];
}

// Median wall and CPU time (the loading thread included) of a load.
void measureLoads(const BenchData& data, int loads, ModeFigures* out) {
  std::vector<double> times, cpuTimes;
  for (int i = 0; i < loads; ++i) {
    const double cpuStart = cpuNanos(CLOCK_PROCESS_CPUTIME_ID);
    const Clock::time_point start = Clock::now();
    auto engine = std::make_unique<BenchEngine>(data, out->mode);
    times.push_back(nanosSince(start) / 1e6);
    cpuTimes.push_back((cpuNanos(CLOCK_PROCESS_CPUTIME_ID) - cpuStart) / 1e6);
  }
  out->loadMs = median(times);
  out->loadCpuMs = median(cpuTimes);
}

// Block and selector figures of one loaded engine.
void measureQueries(const BenchData& data, FilterEngineImpl& engine, int passes,
                    ModeFigures* out) {
  const auto& requests = data.workload.requests;
  const auto& pages = data.workload.pages;
  const std::string noReferrer;

  // Whole passes for the mean; the first is a warm-up.
  out->answers.assign(requests.size(), 0);
  double total = 0;
  double cpuTotal = 0;
  for (int pass = 0; pass < passes; ++pass) {
    const double cpuStart = cpuNanos(CLOCK_THREAD_CPUTIME_ID);
    const Clock::time_point start = Clock::now();
    for (size_t i = 0; i < requests.size(); ++i) {
      out->answers[i] = engine.shouldBlock(requests[i].url, requests[i].page);
    }
    const double elapsed = nanosSince(start);
    const double cpuElapsed = cpuNanos(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
    if (pass > 0) {
      total += elapsed;
      cpuTotal += cpuElapsed;
    }
  }
  const double measured =
      static_cast<double>(passes - 1) * static_cast<double>(requests.size());
  out->blockMeanNs = total / measured;
  out->blockMeanCpuNs = cpuTotal / measured;

  // Each request timed on its own for the distribution.
  // Also the best time of each request over the passes, which removes
  // most of what other processes on the machine add.
  std::vector<double> samples;
  samples.reserve(requests.size() * static_cast<size_t>(passes - 1));
  std::vector<double> best(requests.size(), 1e300);
  for (int pass = 0; pass < passes; ++pass) {
    for (size_t i = 0; i < requests.size(); ++i) {
      const Clock::time_point start = Clock::now();
      const int answer = engine.shouldBlock(requests[i].url, requests[i].page);
      const double elapsed = nanosSince(start);
      if (pass > 0) {
        samples.push_back(elapsed);
        best[i] = std::min(best[i], elapsed);
      }
      out->unstableAnswers += answer != out->answers[i];
    }
  }
  std::sort(samples.begin(), samples.end());
  out->p50 = percentile(samples, 0.50);
  out->p90 = percentile(samples, 0.90);
  out->p99 = percentile(samples, 0.99);
  out->max = samples.empty() ? 0 : samples.back();
  std::sort(best.begin(), best.end());
  out->bestP50 = percentile(best, 0.50);
  out->bestP99 = percentile(best, 0.99);
  out->bestMax = best.empty() ? 0 : best.back();

  total = 0;
  for (int pass = 0; pass < passes; ++pass) {
    size_t count = 0;
    const Clock::time_point start = Clock::now();
    for (const std::string& page : pages) {
      count += engine.getSelectors(page, page, noReferrer).size();
    }
    const double elapsed = nanosSince(start);
    if (pass > 0) total += elapsed;
    out->selectorCount = count;
  }
  out->selectorsMeanNs = total / (static_cast<double>(passes - 1) *
                                  static_cast<double>(pages.size()));
}

void measureAdversarial(FilterEngineImpl& engine,
                        const AdversarialRequest& request, int runs,
                        ModeFigures* out) {
  std::vector<double> times;
  int answer = 0;
  for (int i = 0; i < runs; ++i) {
    const Clock::time_point start = Clock::now();
    answer |= engine.shouldBlock(request.url, request.pageUrl);
    times.push_back(nanosSince(start) / 1e6);
  }
  out->adversarialMs = median(times);
  out->adversarialAnswer = answer;
}

// shouldBlock mean over the long-URL workload (passes, the first a
// warm-up), and its answers.
void measureLongUrls(const BenchData& data, FilterEngineImpl& engine,
                     int passes, ModeFigures* out) {
  const auto& requests = data.longRequests;
  out->longAnswers.assign(requests.size(), 0);
  double total = 0;
  for (int pass = 0; pass < passes; ++pass) {
    const Clock::time_point start = Clock::now();
    for (size_t i = 0; i < requests.size(); ++i) {
      out->longAnswers[i] =
          engine.shouldBlock(requests[i].url, requests[i].page);
    }
    if (pass > 0) total += nanosSince(start);
  }
  out->longMeanNs = total / (static_cast<double>(passes - 1) *
                             static_cast<double>(requests.size()));
}

// The median decision of each dense-key shape on an engine holding only
// its rule; keeps the slowest.
void measureDenseKeys(int runs, ModeFigures* out) {
  for (const DenseKeyShape& shape : denseKeyShapes()) {
    const std::unique_ptr<BenchEngine> engine =
        textEngine(shape.rule, "", out->mode);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
      const Clock::time_point start = Clock::now();
      const int answer = engine->engine().shouldBlock(shape.url, shape.pageUrl);
      times.push_back(nanosSince(start) / 1e6);
      out->denseAnswersRight &= answer == shape.blocked;
    }
    out->denseMs.push_back(median(times));
    out->denseWorstMs = std::max(out->denseWorstMs, out->denseMs.back());
  }
}

// Median cost of one steady_clock reading, included in every latency sample.
double clockOverheadNs() {
  std::vector<double> samples;
  for (int i = 0; i < 10001; ++i) {
    const Clock::time_point a = Clock::now();
    const Clock::time_point b = Clock::now();
    samples.push_back(std::chrono::duration<double, std::nano>(b - a).count());
  }
  return median(samples);
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string ratio(double plain, double accelerated) {
  if (accelerated <= 0) return "-";
  const double r = plain / accelerated;
  return fixed(r, r < 10 ? 2 : (r < 100 ? 1 : 0)) + "×";
}

const char* met(bool ok) { return ok ? "yes" : "**no**"; }

// A target that a figure of the accelerated mode must meet. Its text in the
// report and its test are both derived from it.
struct Target {
  double limit;         // the figure must not exceed it, in unit
  const char* unit;     // the unit of the figure and of limit
  double minRatio = 0;  // plain / accelerated must reach it; 0: no such part

  std::string text() const {
    char limitText[32];
    std::snprintf(limitText, sizeof limitText, "%g", limit);
    std::string out = std::string("≤ ") + limitText + " " + unit;
    if (minRatio > 0) {
      std::snprintf(limitText, sizeof limitText, "%g", minRatio);
      out += std::string(" and ≥ ") + limitText + "×";
    }
    return out;
  }
  bool metBy(double figure, double ratio = 0) const {
    return figure <= limit && ratio >= minRatio;
  }
};

// Every target of the report.
struct Targets {
  Target load{20, "ms"};              // both files, median wall time
  Target blockMean{0.35, "µs", 100};  // shouldBlock mean, and its speed-up
  Target blockP99{1.2, "µs"};         // shouldBlock p99
  Target longToShort{1.5, "×"};       // long-URL mean / short-record mean
  Target selectorsMean{2, "µs"};      // getSelectors mean per page
  Target residentAdded{8, "MB"};      // resident memory a load adds
  Target heapPerRule{60, "bytes"};    // heap a load adds, per rule
  Target adversarial{20, "ms"};       // one decision on the 1 MiB request
  Target denseKeys{20, "ms"};         // worst decision of the dense shapes
};
constexpr Targets kTargets;

// One table row: figure, plain, accelerated, ratio, target, met.
void row(const std::string& figure, const std::string& plain,
         const std::string& accelerated, const std::string& plainToFast,
         const std::string& target, const std::string& ok) {
  std::printf("| %s | %s | %s | %s | %s | %s |\n", figure.c_str(),
              plain.c_str(), accelerated.c_str(), plainToFast.c_str(),
              target.c_str(), ok.c_str());
}

bool parseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    const int value = std::atoi(argv[++i]);
    if (value < 1) return false;
    if (arg == "--loads") {
      options->loads = value;
    } else if (arg == "--passes") {
      options->passes = value;
    } else if (arg == "--plain-passes") {
      options->plainPasses = value;
    } else if (arg == "--adversarial-runs") {
      options->adversarialRuns = value;
    } else {
      return false;
    }
  }
  options->passes = std::max(options->passes, 2);
  options->plainPasses = std::max(options->plainPasses, 2);
  return true;
}

// The domain-map layouts compared on the real lists' keys.
struct LayoutFigures {
  size_t keys = 0;             // keys filed
  size_t distinctKeys = 0;     // distinct keys
  size_t candidates = 0;       // host candidates looked up
  size_t requestKeys = 0;      // of which keys of request rules
  size_t requestDistinct = 0;  // distinct keys of request rules
  size_t tableBytes = 0;       // heap bytes of DomainRuleTable (request keys)
  double tableNs = 0;          // median lookup of DomainRuleTable
  size_t compactBytes = 0;     // heap bytes of KeyedChains
  size_t stdBytes = 0;         // heap bytes of the unordered_map layout
  double compactNs = 0;        // median lookup of KeyedChains
  double stdNs = 0;            // median lookup of the unordered_map layout
};

// Everything the report prints, measured before any of it is printed.
struct ReportFigures {
  Options options;
  size_t requests = 0;                      // workload requests
  size_t records = 0;                       // of which request records
  size_t pages = 0;                         // workload pages
  size_t longRequests = 0;                  // long-URL requests
  std::string loadBefore;                   // /proc/loadavg before measuring
  std::string loadAfter;                    // and after
  double clockOverheadNs = 0;               // one steady_clock reading
  ModeFigures plain, fast;                  // every figure of each mode
  AdversarialRequest adversarial;           // the 1 MiB request
  AdversarialRequest literalsOnly;          // the same without rule tokens
  ModeFigures plainLiterals, fastLiterals;  // decisions on literalsOnly
  EngineStats stats;                        // of the accelerated engine
  size_t blocked = 0;                       // requests blocked (accelerated)
  size_t differing = 0;      // answers differing between the modes or passes
  size_t blockedLong = 0;    // long-URL requests blocked (accelerated)
  size_t differingLong = 0;  // long-URL answers differing between the modes
  LayoutFigures layouts;
};

// The rules of the generic sequences.
size_t genericRules(const EngineStats& stats) {
  size_t rules = 0;
  for (const RequestContainer& container :
       FilterEngineImpl::kRequestContainers) {
    if (!container.keyed) rules += stats.rulesIn(container.id);
  }
  return rules;
}

LayoutFigures measureLayouts(const BenchData& data) {
  LayoutFigures figures;
  const ParsedRules keyRules = parseRules(data);
  const std::vector<KeyedItem> keys = domainKeys(keyRules);
  const std::vector<std::string> candidates = workloadCandidates(data.workload);
  // domainKeys() lists the request rules' keys first.
  size_t keyed = 0;
  for (const auto& rule : keyRules.requests) {
    keyed += rule->domainKeyView().empty() ? 0 : 1;
  }
  const std::vector<KeyedItem> requestKeys(keys.begin(), keys.begin() + keyed);
  TableDomainMap table;
  fillMap(table, requestKeys);
  // The table alone: the rule copies it refers to are the engine's rules.
  figures.tableBytes = table.table.memoryBytes();
  figures.compactBytes = heapBytesOfMap<CompactDomainMap>(keys);
  figures.stdBytes = heapBytesOfMap<StdDomainMap>(keys);
  CompactDomainMap compact;
  fillMap(compact, keys);
  StdDomainMap standard;
  fillMap(standard, keys);
  auto lookupNs = [&candidates](const auto& map) {
    std::vector<double> runs;
    size_t visited = 0;
    for (int i = 0; i < 21; ++i) {
      const Clock::time_point start = Clock::now();
      visited += lookupAll(map, candidates);
      runs.push_back(nanosSince(start) /
                     static_cast<double>(candidates.size()));
    }
    if (visited == 0) std::fprintf(stderr, "report: no candidate was found\n");
    return median(runs);
  };
  figures.tableNs = lookupNs(table);
  figures.requestKeys = requestKeys.size();
  figures.requestDistinct = keyCountOf(table);
  figures.compactNs = lookupNs(compact);
  figures.stdNs = lookupNs(standard);
  figures.keys = keys.size();
  figures.distinctKeys = compact.keyCount();
  figures.candidates = candidates.size();
  return figures;
}

ReportFigures collect(const BenchData& data, const Options& options) {
  ReportFigures r;
  r.options = options;
  r.requests = data.workload.requests.size();
  r.records = data.workload.records;
  r.pages = data.workload.pages.size();
  r.longRequests = data.longRequests.size();
  r.loadBefore = loadAverage();
  r.plain.mode = MatchMode::kPlain;
  r.fast.mode = MatchMode::kAccelerated;
  for (ModeFigures* m : {&r.fast, &r.plain}) {
    std::fprintf(stderr, "report: %s: memory\n", modeName(m->mode));
    m->memory = measureMemory(m->mode);
    std::fprintf(stderr, "report: %s: %d loads\n", modeName(m->mode),
                 options.loads);
    measureLoads(data, options.loads, m);
  }

  BenchEngine fastEngine(data, MatchMode::kAccelerated);
  BenchEngine plainEngine(data, MatchMode::kPlain);
  std::fprintf(stderr, "report: accelerated: queries\n");
  measureQueries(data, fastEngine.engine(), options.passes, &r.fast);
  std::fprintf(stderr, "report: plain: queries\n");
  measureQueries(data, plainEngine.engine(), options.plainPasses, &r.plain);

  std::fprintf(stderr, "report: long URLs\n");
  measureLongUrls(data, fastEngine.engine(), options.passes, &r.fast);
  measureLongUrls(data, plainEngine.engine(), options.plainPasses, &r.plain);
  std::fprintf(stderr, "report: dense-key shapes\n");
  measureDenseKeys(options.adversarialRuns, &r.fast);
  measureDenseKeys(1, &r.plain);

  std::fprintf(stderr, "report: building the adversarial request\n");
  {
    const ParsedRules rules = parseRules(data);
    r.adversarial =
        buildAdversarialRequest(rules, fastEngine.engine(), size_t{1} << 20);
  }
  std::fprintf(stderr, "report: adversarial decisions\n");
  measureAdversarial(fastEngine.engine(), r.adversarial,
                     options.adversarialRuns, &r.fast);
  measureAdversarial(plainEngine.engine(), r.adversarial, 1, &r.plain);

  // The same without the rule tokens: literal runs only.
  std::fprintf(stderr, "report: the literal-runs-only variant\n");
  {
    const ParsedRules rules = parseRules(data);
    r.literalsOnly = buildAdversarialRequest(rules, fastEngine.engine(),
                                             size_t{1} << 20, false);
  }
  measureAdversarial(fastEngine.engine(), r.literalsOnly,
                     options.adversarialRuns, &r.fastLiterals);
  measureAdversarial(plainEngine.engine(), r.literalsOnly, 1, &r.plainLiterals);

  std::fprintf(stderr, "report: domain-map layouts\n");
  r.layouts = measureLayouts(data);

  r.stats = fastEngine.engine().stats();
  for (size_t i = 0; i < r.fast.answers.size(); ++i) {
    r.differing += r.fast.answers[i] != r.plain.answers[i];
    r.blocked += static_cast<size_t>(r.fast.answers[i]);
  }
  r.differing += r.fast.unstableAnswers + r.plain.unstableAnswers;
  for (size_t i = 0; i < r.fast.longAnswers.size(); ++i) {
    r.differingLong += r.fast.longAnswers[i] != r.plain.longAnswers[i];
    r.blockedLong += static_cast<size_t>(r.fast.longAnswers[i]);
  }
  r.clockOverheadNs = clockOverheadNs();
  r.loadAfter = loadAverage();
  return r;
}

void printHeader(const ReportFigures& r) {
  std::printf("## libquibex benchmark report\n\n");
  std::printf(
      "Workload: %zu requests (%zu records + %zu page URLs asked with an "
      "empty page), %zu pages. Rules: %zu request rules (%zu generic), %zu "
      "element-hiding rules. Blocked: %zu; answers differing between the "
      "modes: %zu; selectors over all pages: %zu (plain %zu). Long URLs: "
      "%zu records with query strings added (%zu to %zu bytes); blocked: "
      "%zu; answers differing between the modes: %zu.\n\n",
      r.requests, r.records, r.pages, r.pages, r.stats.requestRules,
      genericRules(r.stats), r.stats.elemHideRules, r.blocked, r.differing,
      r.fast.selectorCount, r.plain.selectorCount, r.longRequests, kLongUrlMin,
      kLongUrlMax, r.blockedLong, r.differingLong);
  std::printf(
      "Loads: median of %d. shouldBlock mean: %d passes over the workload "
      "(%d for plain), the first discarded. Latency: every request timed on "
      "its own with steady_clock (one reading costs about %.0f ns, included "
      "in each sample). Memory: a fresh process per mode; MB = 10^6 bytes. "
      "Machine load average (/proc/loadavg) before: %s; after: %s.\n\n",
      r.options.loads, r.options.passes - 1, r.options.plainPasses - 1,
      r.clockOverheadNs, r.loadBefore.c_str(), r.loadAfter.c_str());
}

void printTable(const ReportFigures& r) {
  const ModeFigures& plain = r.plain;
  const ModeFigures& fast = r.fast;
  row("figure", "plain", "accelerated", "plain / accelerated", "target", "met");
  std::printf("|---|---:|---:|---:|---|---|\n");
  row("load both files, median (ms)", fixed(plain.loadMs, 1),
      fixed(fast.loadMs, 1), ratio(plain.loadMs, fast.loadMs),
      kTargets.load.text(), met(kTargets.load.metBy(fast.loadMs)));
  row("load both files, CPU time, median (ms)", fixed(plain.loadCpuMs, 1),
      fixed(fast.loadCpuMs, 1), ratio(plain.loadCpuMs, fast.loadCpuMs), "", "");
  row("shouldBlock mean (µs/request)", fixed(plain.blockMeanNs / 1e3, 3),
      fixed(fast.blockMeanNs / 1e3, 3),
      ratio(plain.blockMeanNs, fast.blockMeanNs), kTargets.blockMean.text(),
      met(kTargets.blockMean.metBy(fast.blockMeanNs / 1e3,
                                   plain.blockMeanNs / fast.blockMeanNs)));
  row("shouldBlock mean, CPU time (µs/request)",
      fixed(plain.blockMeanCpuNs / 1e3, 3), fixed(fast.blockMeanCpuNs / 1e3, 3),
      ratio(plain.blockMeanCpuNs, fast.blockMeanCpuNs), "", "");
  row("shouldBlock p50 (µs)", fixed(plain.p50 / 1e3, 3),
      fixed(fast.p50 / 1e3, 3), ratio(plain.p50, fast.p50), "", "");
  row("shouldBlock p90 (µs)", fixed(plain.p90 / 1e3, 3),
      fixed(fast.p90 / 1e3, 3), ratio(plain.p90, fast.p90), "", "");
  row("shouldBlock p99 (µs)", fixed(plain.p99 / 1e3, 3),
      fixed(fast.p99 / 1e3, 3), ratio(plain.p99, fast.p99),
      kTargets.blockP99.text(), met(kTargets.blockP99.metBy(fast.p99 / 1e3)));
  row("shouldBlock max (µs)", fixed(plain.max / 1e3, 1),
      fixed(fast.max / 1e3, 1), ratio(plain.max, fast.max), "", "");
  row("shouldBlock p50 / p99 / max, best pass per request (µs)",
      fixed(plain.bestP50 / 1e3, 1) + " / " + fixed(plain.bestP99 / 1e3, 1) +
          " / " + fixed(plain.bestMax / 1e3, 1),
      fixed(fast.bestP50 / 1e3, 3) + " / " + fixed(fast.bestP99 / 1e3, 3) +
          " / " + fixed(fast.bestMax / 1e3, 1),
      ratio(plain.bestP99, fast.bestP99) + " (p99)", "", "");
  row("shouldBlock mean, long URLs (µs/request)",
      fixed(plain.longMeanNs / 1e3, 3), fixed(fast.longMeanNs / 1e3, 3),
      ratio(plain.longMeanNs, fast.longMeanNs), "", "");
  {
    const double longToShort = fast.longMeanNs / fast.blockMeanNs;
    row("long URLs against the workload, mean per request",
        fixed(plain.longMeanNs / plain.blockMeanNs, 2) + "×",
        fixed(longToShort, 2) + "×", "", kTargets.longToShort.text(),
        met(kTargets.longToShort.metBy(longToShort) && r.differingLong == 0));
  }
  row("getSelectors mean (µs/page)", fixed(plain.selectorsMeanNs / 1e3, 3),
      fixed(fast.selectorsMeanNs / 1e3, 3),
      ratio(plain.selectorsMeanNs, fast.selectorsMeanNs),
      kTargets.selectorsMean.text(),
      met(kTargets.selectorsMean.metBy(fast.selectorsMeanNs / 1e3)));
  if (plain.memory.ok && fast.memory.ok) {
    auto megabytes = [](double bytes) {
      return fixed(bytes / 1e6, 2) + " (" + fixed(bytes / 1048576.0, 2) +
             " MiB)";
    };
    row("resident memory added by loading (MB)",
        megabytes(plain.memory.residentAdded),
        megabytes(fast.memory.residentAdded),
        ratio(plain.memory.residentAdded, fast.memory.residentAdded),
        kTargets.residentAdded.text(),
        met(kTargets.residentAdded.metBy(fast.memory.residentAdded / 1e6)));
    row("heap bytes after loading (MB)", fixed(plain.memory.heapAdded / 1e6, 2),
        fixed(fast.memory.heapAdded / 1e6, 2),
        ratio(plain.memory.heapAdded, fast.memory.heapAdded), "", "");
    row("heap bytes per rule",
        fixed(plain.memory.heapAdded / plain.memory.rules, 1),
        fixed(fast.memory.heapAdded / fast.memory.rules, 1),
        ratio(plain.memory.heapAdded, fast.memory.heapAdded),
        kTargets.heapPerRule.text(),
        met(kTargets.heapPerRule.metBy(fast.memory.heapAdded /
                                       fast.memory.rules)));
    row("stats().indexBytes (MB)", fixed(plain.memory.indexBytes / 1e6, 2),
        fixed(fast.memory.indexBytes / 1e6, 2),
        ratio(plain.memory.indexBytes, fast.memory.indexBytes), "", "");
  } else {
    row("memory", "not measured", "not measured", "-",
        kTargets.residentAdded.text(), "-");
  }
  if (r.adversarial.verified) {
    row("1 MiB adversarial request (ms/decision)",
        fixed(plain.adversarialMs, 1), fixed(fast.adversarialMs, 1),
        ratio(plain.adversarialMs, fast.adversarialMs),
        kTargets.adversarial.text(),
        met(kTargets.adversarial.metBy(fast.adversarialMs) &&
            fast.adversarialAnswer == 0 && plain.adversarialAnswer == 0));
  } else {
    row("1 MiB adversarial request", "-", "-", "-", kTargets.adversarial.text(),
        "not built: " + r.adversarial.unavoidableRule);
  }
  row("dense-key shapes, slowest (ms/decision)", fixed(plain.denseWorstMs, 1),
      fixed(fast.denseWorstMs, 1), ratio(plain.denseWorstMs, fast.denseWorstMs),
      kTargets.denseKeys.text(),
      met(kTargets.denseKeys.metBy(fast.denseWorstMs) &&
          fast.denseAnswersRight && plain.denseAnswersRight));
  const std::vector<DenseKeyShape> shapes = denseKeyShapes();
  for (size_t i = 0;
       i < shapes.size() && i < fast.denseMs.size() && i < plain.denseMs.size();
       ++i) {
    row(std::string("dense-key shape: ") + shapes[i].name + " (ms/decision)",
        fixed(plain.denseMs[i], 1), fixed(fast.denseMs[i], 1),
        ratio(plain.denseMs[i], fast.denseMs[i]), "", "");
  }
  if (r.literalsOnly.verified) {
    row("1 MiB literal runs only, no rule tokens (ms/decision)",
        fixed(r.plainLiterals.adversarialMs, 1),
        fixed(r.fastLiterals.adversarialMs, 1),
        ratio(r.plainLiterals.adversarialMs, r.fastLiterals.adversarialMs), "",
        "");
  }
}

void printAdversarial(const ReportFigures& r) {
  std::printf(
      "\nAdversarial request: %zu bytes, %zu distinct generic-rule tokens, "
      "runs of %zu literal prefixes, pieces of %zu rules left out so nothing "
      "matches; answer %d (plain %d). Literal runs only: runs of %zu "
      "literal prefixes, pieces of %zu rules left out; answer %d (plain "
      "%d).\n",
      r.adversarial.url.size(), r.adversarial.tokens, r.adversarial.literals,
      r.adversarial.droppedRules, r.fast.adversarialAnswer,
      r.plain.adversarialAnswer, r.literalsOnly.literals,
      r.literalsOnly.droppedRules, r.fastLiterals.adversarialAnswer,
      r.plainLiterals.adversarialAnswer);
}

void printLayouts(const LayoutFigures& l) {
  std::printf(
      "\n### Domain-map layout: %zu keys filed, %zu distinct; %zu host "
      "candidates looked up\n\n",
      l.keys, l.distinctKeys, l.candidates);
  std::printf(
      "| layout | heap bytes (MB) | bytes per filed key | lookup (ns) |\n");
  std::printf("|---|---:|---:|---:|\n");
  const double keys = static_cast<double>(l.keys);
  std::printf(
      "| `DomainRuleTable`, request rules' keys only (%zu filed, %zu "
      "distinct) | %s | %s | %s |\n",
      l.requestKeys, l.requestDistinct,
      fixed(static_cast<double>(l.tableBytes) / 1e6, 2).c_str(),
      fixed(static_cast<double>(l.tableBytes) /
                static_cast<double>(l.requestKeys),
            1)
          .c_str(),
      fixed(l.tableNs, 1).c_str());
  std::printf("| `KeyedChains` | %s | %s | %s |\n",
              fixed(static_cast<double>(l.compactBytes) / 1e6, 2).c_str(),
              fixed(static_cast<double>(l.compactBytes) / keys, 1).c_str(),
              fixed(l.compactNs, 1).c_str());
  std::printf(
      "| `std::unordered_map<std::string, std::vector<const void*>>` | "
      "%s | %s | %s |\n",
      fixed(static_cast<double>(l.stdBytes) / 1e6, 2).c_str(),
      fixed(static_cast<double>(l.stdBytes) / keys, 1).c_str(),
      fixed(l.stdNs, 1).c_str());
}

void print(const ReportFigures& r) {
  printHeader(r);
  printTable(r);
  printAdversarial(r);
  printLayouts(r.layouts);
}

int run(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--memory-child") == 0) {
    return memoryChild(std::strcmp(argv[2], "plain") == 0
                           ? MatchMode::kPlain
                           : MatchMode::kAccelerated);
  }
  Options options;
  if (!parseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: quibex_bench_report [--loads N] [--passes N] "
                 "[--plain-passes N] [--adversarial-runs N]\n");
    return 2;
  }
  std::string why;
  const BenchData* data = benchData(&why);
  if (data == nullptr) {
    std::printf("Benchmark report skipped: %s\n", why.c_str());
    return 0;
  }
  print(collect(*data, options));
  return 0;
}

}  // namespace
}  // namespace quibex::bench

int main(int argc, char** argv) { return quibex::bench::run(argc, argv); }
