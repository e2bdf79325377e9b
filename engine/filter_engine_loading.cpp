// Loading of FilterEngineImpl: reading one rule file through the line
// decoder, and routing each plain rule line to its parser.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>
#include <string>
#include <system_error>

#include "engine/filter_engine_impl.h"
#include "engine/line_decoder.h"
#include "engine/log.h"
#include "engine/rule_file_reader.h"
#include "filters/rule_line.h"

namespace quibex {
namespace {

// Stored bytes per domain-keyed rule: real lists hold one per 29 to 41
// stored bytes; the guess errs on the side of room, which costs address
// space only until it is written.
constexpr size_t kStoredBytesPerKeyedRule = 24;
// The most keyed rules the guess makes room for (the real lists hold about
// a hundred thousand): a huge file, of comments say, must not reserve room
// for millions of rules it may never hold. Larger lists grow the staging
// area as they fill it.
constexpr size_t kMostKeyedRulesGuessed = size_t{1} << 18;

}  // namespace

void FilterEngineImpl::reserveForFiles(const std::string& firstPath,
                                       const std::string& secondPath) {
  // Room to stage the keyed rules of both files up front, guessed from
  // their sizes, instead of growing the staging area in a dozen steps.
  unsigned long long bytes = 0;
  for (const std::string* path : {&firstPath, &secondPath}) {
    struct stat info;
    if (stat(path->c_str(), &info) == 0 && info.st_size > 0) {
      bytes += static_cast<unsigned long long>(info.st_size);
    }
  }
  domainRules_.reserveStaged(static_cast<size_t>(std::min<unsigned long long>(
      bytes / kStoredBytesPerKeyedRule, kMostKeyedRulesGuessed)));
}

void FilterEngineImpl::loadRuleFile(const std::string& path, int listIndex) {
  const size_t rulesBefore = requestRules_ + elemHideFilters.size();
  // The keyed rules are staged while the file is read, and filed when the
  // load ends (finishLoad(), or runLoad() when the load fails).
  struct StageKeyedRules {
    FilterEngineImpl* engine;
    explicit StageKeyedRules(FilterEngineImpl* e) : engine(e) {
      engine->stageKeyedRules_ = true;
    }
    ~StageKeyedRules() { engine->stageKeyedRules_ = false; }
  } stage(this);
  try {
    UniqueFile file(std::fopen(path.c_str(), "r"));
    if (!file) {
      const int error = errno;
      logMessage(LogPriority::kWarning,
                 "list %d: cannot open rule file %s: %s; the list stays empty",
                 listIndex, path.c_str(),
                 std::generic_category().message(error).c_str());
      return;
    }
    // A line that runs out of memory while filed is dropped, as an
    // unparsable line is, and counted; filing leaves no part of it behind.
    const RuleLineTally tally = readRuleLines(
        file.get(), &decoder_,
        [this, listIndex](size_t, std::string_view line) {
          addRuleLine(line, listIndex);
        },
        [](size_t) {});
    logMessage(LogPriority::kInfo,
               "list %d: %zu rules filed from %s; lines skipped: %zu "
               "undecodable, %zu too long, %zu out of memory%s",
               listIndex, requestRules_ + elemHideFilters.size() - rulesBefore,
               path.c_str(), tally.undecodable, tally.tooLong,
               tally.outOfMemory(),
               tally.readFailed ? "; reading stopped at a read error" : "");
  } catch (const std::bad_alloc&) {
    // Not even the file's read buffer could be had: the file is skipped,
    // like one that cannot be opened, and the load goes on.
    logMessage(LogPriority::kError,
               "list %d: out of memory reading %s; the rest of the file is "
               "skipped",
               listIndex, path.c_str());
  }
}

void FilterEngineImpl::addRuleLine(std::string_view line, int listIndex) {
  switch (routeRuleLine(line)) {
    case RuleLineKind::kComment:
      return;
    case RuleLineKind::kElemHide:
      addElemHideFilter(ElemHideFilter::fromText(line, arena_));
      return;
    case RuleLineKind::kRequest:
      if (RequestFilter* filter = parseRequestFilter(line, arena_)) {
        addRequestFilter(filter, listIndex);
      }
      return;
  }
}

// Adding lines one at a time, for a caller that needs to know which rule
// each line became (the quibex tool's reports name a rule by its file and
// line, which only the caller knows).
FiledRule FilterEngineImpl::addTrackedLine(std::string_view line,
                                           int listIndex) {
  std::lock_guard<std::mutex> lock(mutex);
  const size_t requestsBefore = requestRules_;
  const size_t elemHideBefore = elemHideFilters.size();
  // Filed as the loader files each line. A line adds at most one rule, at
  // the end of its owning sequence.
  addRuleLine(line, listIndex);
  FiledRule filed;
  if (requestRules_ > requestsBefore) filed.request = lastRequestRule_;
  if (elemHideFilters.size() > elemHideBefore) {
    filed.elemHide = elemHideFilters.back();
  }
  return filed;
}

void FilterEngineImpl::finishAddingLines() {
  std::lock_guard<std::mutex> lock(mutex);
  finishLoad();
}

}  // namespace quibex
