// What loading the two rule files adds to the memory of this process: the
// heap bytes in use by malloc's own counters and the resident memory, read
// before and after one load through the pass-through decoder, with the
// rules that load filed. Shared by the benchmark report (in a fresh child
// process per match mode) and quibex_heap_report (on any target, the 32-bit
// one under the emulator, whose resident figures mean nothing).
#ifndef QUIBEX_BENCH_LOAD_MEMORY_H_
#define QUIBEX_BENCH_LOAD_MEMORY_H_

#include <cstddef>
#include <string>

#include "engine/filter_engine_impl.h"

namespace quibex::bench {

// Bytes currently handed out by malloc, over every arena and including the
// separately mapped large blocks (mallinfo2 uordblks + hblkhd).
size_t heapBytesInUse();

// The readings around one load, and what the engine counts afterwards.
struct LoadMemory {
  size_t residentBefore = 0;  // resident bytes before the load
  size_t residentAfter = 0;   // and after it, the engine still alive
  size_t heapBefore = 0;      // heapBytesInUse() before the load
  size_t heapAfter = 0;       // and after it, the engine still alive
  size_t requestRules = 0;    // stats().requestRules
  size_t elemHideRules = 0;   // stats().elemHideRules
  size_t indexBytes = 0;      // stats().indexBytes

  // Rules of both kinds.
  size_t rules() const { return requestRules + elemHideRules; }
  // Heap bytes the load added (0 if the heap shrank).
  size_t heapAdded() const {
    return heapAfter > heapBefore ? heapAfter - heapBefore : 0;
  }
};

// Loads firstPath (list 0) and secondPath (list 1) into a new engine in
// mode through a PassThroughDecoder, waits for the load and reads what it
// added while the engine is alive. A file that cannot be opened adds no
// rules. For figures that mean what they say, call it early in a fresh
// process: heap freed by earlier work would be reused by the load.
LoadMemory measureLoadMemory(const std::string& firstPath,
                             const std::string& secondPath, MatchMode mode);

}  // namespace quibex::bench

#endif  // QUIBEX_BENCH_LOAD_MEMORY_H_
