// The engine object: construction, clearing, background loads, statistics,
// and the process's one engine.
#include "engine/filter_engine_impl.h"

#include <malloc.h>

#include <chrono>
#include <exception>
#include <new>
#include <type_traits>

#include "engine/line_decoder.h"
#include "engine/log.h"
#include "engine/thread_launcher.h"

namespace quibex {
namespace {

// Hands the heap's free pages back to the system where the C library can.
void trimHeap() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

}  // namespace

// What one load or reload body needs: its own copy of the two paths, so a
// later loadRules cannot change them under a running body.
struct FilterEngineImpl::LoadJob {
  FilterEngineImpl* engine;  // the engine to load into
  std::string firstPath;     // read with listIndex 0
  std::string secondPath;    // read with listIndex 1
  bool reload;               // clear every rule first
};

FilterEngineImpl::FilterEngineImpl(LineDecoder& decoder,
                                   const EngineOptions& options)
    : loading(false),
      decoder_(decoder),
      launcher_(options.launcher != nullptr ? *options.launcher
                                            : detachedThreadLauncher()),
      matchMode_(options.matchMode) {
  for (const RequestContainer& container : kRequestContainers) {
    if (container.keyed) mapOf(container).attach(&domainRules_, container.slot);
  }
}

FilterEngineImpl::~FilterEngineImpl() {
  waitForLoads();
  std::lock_guard<std::mutex> lock(mutex);
  clearRules();
}

void FilterEngineImpl::clearRules() {
  // Only these rules have anything to free; the arena's release below
  // takes the storage of every rule.
  for (RequestFilter*& filter : requestFilters) {
    filter->~RequestFilter();
    filter = nullptr;
  }
  requestFilters.clear();
  requestRules_ = 0;
  lastRequestRule_ = nullptr;
  domainRules_.clear();  // the rules of every keyed container
  for (const RequestContainer& container : kRequestContainers) {
    if (!container.keyed) sequenceOf(container).clear();
  }
  genericIndex_.clear();
  indexStale_ = false;
  // Element-hiding filters have nothing to destroy; their storage goes
  // with the arena.
  static_assert(std::is_trivially_destructible<ElemHideFilter>::value,
                "element-hiding filters are freed with the arena");
  elemHideFilters.clear();
  elemHideByDomain.clear();
  arena_.release();
}

void FilterEngineImpl::loadRules(const std::string& firstPath,
                                 const std::string& secondPath) {
  startLoad(firstPath, secondPath, /*reload=*/false);
}

void FilterEngineImpl::reloadRules(const std::string& firstPath,
                                   const std::string& secondPath) {
  startLoad(firstPath, secondPath, /*reload=*/true);
}

void FilterEngineImpl::startLoad(const std::string& firstPath,
                                 const std::string& secondPath, bool reload) {
  {
    std::lock_guard<std::mutex> lock(startMutex_);
    if (!reload) loading = true;
    ++pendingBodies_;
  }
  std::unique_ptr<LoadJob> job;
  try {
    job.reset(new LoadJob{this, firstPath, secondPath, reload});
  } catch (const std::bad_alloc&) {
    logMessage(LogPriority::kError, "out of memory starting a %s",
               reload ? "reload" : "load");
    abandonStart(reload);
    return;
  }
  if (!launcher_.launch(&FilterEngineImpl::loadBody, job.get())) {
    logMessage(LogPriority::kError, "the %s thread could not be started; %s",
               kLoadThreadName,
               reload ? "the rules in force stay" : "no rules were added");
    abandonStart(reload);
    return;
  }
  job.release();  // the body owns it now
}

void FilterEngineImpl::abandonStart(bool reload) {
  {
    std::lock_guard<std::mutex> lock(startMutex_);
    // No body will run for this start. A load that set the flag clears it
    // again, so that queries keep answering from the rules in place - but
    // only when no other body is pending or running: that body still needs
    // the flag to turn queries away, and clears it itself when it ends.
    if (--pendingBodies_ == 0 && !reload) loading = false;
  }
  bodiesDone_.notify_all();
}

void* FilterEngineImpl::loadBody(void* arg) {
  std::unique_ptr<LoadJob> job(static_cast<LoadJob*>(arg));
  nameCurrentThread(kLoadThreadName);
  job->engine->runLoad(*job);
  return nullptr;
}

void FilterEngineImpl::runLoad(const LoadJob& job) {
  std::unique_lock<std::mutex> lock(mutex);
  loading = true;
  const auto start = std::chrono::steady_clock::now();
  const char* const kind = job.reload ? "reload" : "load";
  try {
    firstRulePath = job.firstPath;
    secondRulePath = job.secondPath;
    if (job.reload) clearRules();
    // Each file copes with running out of memory itself (a line that cannot
    // be handled is dropped), so this catches only what is left over: the
    // paths and the index build.
    reserveForFiles(job.firstPath, job.secondPath);
    loadRuleFile(job.firstPath, 0);
    loadRuleFile(job.secondPath, 1);
    finishLoad();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    logMessage(LogPriority::kInfo,
               "%s finished: %zu request rules, %zu element-hiding rules in "
               "force; took %lld ms",
               kind, requestRules_, elemHideFilters.size(),
               static_cast<long long>(elapsed.count()));
  } catch (const std::exception&) {
    // Keep what was filed and stay usable: the index is rebuilt by the next
    // query. Nothing may escape a thread body.
    fileStagedRules();
    indexStale_ = true;
    logMessage(LogPriority::kError,
               "out of memory: the %s ended early with %zu request rules, %zu "
               "element-hiding rules in force",
               kind, requestRules_, elemHideFilters.size());
  }
  loading = false;
  {
    std::lock_guard<std::mutex> startLock(startMutex_);
    --pendingBodies_;
  }
  bodiesDone_.notify_all();
}

void FilterEngineImpl::finishLoad() {
  requestFilters.shrink_to_fit();
  elemHideFilters.shrink_to_fit();
  for (const RequestContainer& container : kRequestContainers) {
    if (!container.keyed) sequenceOf(container).shrink_to_fit();
  }
  elemHideByDomain.shrinkToFit();
  // A load frees its growth leftovers all at once, and a reload the old
  // rules: hand the free pages back, so that the resident size is what the
  // rules hold and repeated reloads do not ratchet it up. A first load's
  // leftovers are handed back too: the allocator would otherwise keep them
  // resident. The first trim comes before the token index is built, and
  // the staged keyed rules are filed after it, so that neither the
  // leftovers nor the domain table's slots come on top of the index's
  // working arrays at the load's resident peak (the staged rules take less
  // room than the slots).
  trimHeap();
  refreshIndex();
  fileStagedRules();
  domainRules_.compact();
  trimHeap();
}

void FilterEngineImpl::refreshIndex() {
  if (matchMode_ != MatchMode::kAccelerated || !indexStale_) return;
  const GenericSequence* sequences[GenericIndex::kSlots] = {};
  for (const RequestContainer& container : kRequestContainers) {
    if (container.decides() && !container.keyed) {
      sequences[container.slot] = &sequenceOf(container);
    }
  }
  genericIndex_.build(sequences);
  indexStale_ = false;
}

void FilterEngineImpl::waitForLoads() {
  std::unique_lock<std::mutex> lock(mutex);
  // A failed launch signals without the mutex, so never wait unbounded.
  while (pendingBodies_ != 0) {
    bodiesDone_.wait_for(lock, std::chrono::milliseconds(20));
  }
}

EngineStats FilterEngineImpl::stats() {
  std::lock_guard<std::mutex> lock(mutex);
  EngineStats s;
  s.requestRules = requestRules_;
  s.elemHideRules = elemHideFilters.size();
  s.elemHideKeys = elemHideByDomain.keyCount();
  s.indexBytes = genericIndex_.memoryBytes() + elemHideByDomain.memoryBytes() +
                 domainRules_.memoryBytes();
  for (size_t i = 0; i < kRequestContainers.size(); ++i) {
    const RequestContainer& container = kRequestContainers[i];
    if (container.keyed) {
      const DomainLane& map = mapOf(container);
      s.containerRules[i] = map.filterCount();
      s.indexBytes += map.memoryBytes();
    } else {
      const GenericSequence& sequence = sequenceOf(container);
      s.containerRules[i] = sequence.size();
      s.indexBytes += sequence.capacity() * sizeof(sequence[0]);
    }
  }
  s.indexBytes += requestFilters.capacity() * sizeof(requestFilters[0]) +
                  elemHideFilters.capacity() * sizeof(elemHideFilters[0]);
  s.ruleBytes = arena_.memoryBytes();
  return s;
}

std::string FilterEngineImpl::lastFirstPath() {
  std::lock_guard<std::mutex> lock(mutex);
  return firstRulePath;
}

std::string FilterEngineImpl::lastSecondPath() {
  std::lock_guard<std::mutex> lock(mutex);
  return secondRulePath;
}

FilterEngine* getFilterEngine(LineDecoder& decoder) {
  // A function-local static is initialised exactly once, even when two
  // threads arrive at the same time.
  static FilterEngineImpl* const engine = new FilterEngineImpl(decoder);
  return engine;
}

}  // namespace quibex
