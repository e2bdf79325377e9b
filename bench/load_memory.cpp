// Heap and resident memory added by a load; see load_memory.h.
#include "bench/load_memory.h"

#include <malloc.h>

#include <memory>

#include "engine/line_decoder.h"
#include "measure/process_memory.h"

namespace quibex::bench {

size_t heapBytesInUse() {
  // Large blocks are mapped separately and counted apart from the arenas.
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

LoadMemory measureLoadMemory(const std::string& firstPath,
                             const std::string& secondPath, MatchMode mode) {
  LoadMemory memory;
  PassThroughDecoder decoder;
  EngineOptions options;
  options.matchMode = mode;
  memory.residentBefore = residentBytes();
  memory.heapBefore = heapBytesInUse();
  // On the heap, as the library keeps it: the engine object is counted too.
  auto engine = std::make_unique<FilterEngineImpl>(decoder, options);
  engine->loadRules(firstPath, secondPath);
  engine->waitForLoads();
  memory.residentAfter = residentBytes();
  memory.heapAfter = heapBytesInUse();
  const EngineStats stats = engine->stats();
  memory.requestRules = stats.requestRules;
  memory.elemHideRules = stats.elemHideRules;
  memory.indexBytes = stats.indexBytes;
  return memory;
}

}  // namespace quibex::bench
