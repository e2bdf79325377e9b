// quibex_heap_report: the heap that loading both real lists adds, and per
// rule, on the target this program was built for. Made for the 32-bit ARM
// build run under the emulator, whose resident memory figures mean nothing:
// only malloc's own counters are read (measureLoadMemory, as the benchmark
// report does in its memory child). Prints one Markdown table row,
//   | target | rules | heap bytes added (MB) | heap bytes per rule |
// whose header scripts/bench.sh prints above the rows of the native and
// the cross builds. Exits 0 with a note instead when no rule was loaded
// (the reference data is absent).
#include <cstdio>
#include <string>

#include "bench/load_memory.h"

namespace {

// The CPU and word size this program was compiled for.
const char* targetName() {
#if defined(__aarch64__)
  return "arm64 (64-bit)";
#elif defined(__arm__)
  return "armv7 (32-bit)";
#elif defined(__x86_64__)
  return "x86-64 (64-bit)";
#elif defined(__i386__)
  return "x86 (32-bit)";
#else
  return sizeof(void*) == 8 ? "other (64-bit)" : "other (32-bit)";
#endif
}

}  // namespace

int main() {
  const std::string data = QUIBEX_DATA_DIR;
  const quibex::bench::LoadMemory memory = quibex::bench::measureLoadMemory(
      data + "/easylist.txt", data + "/easyprivacy.txt",
      quibex::MatchMode::kAccelerated);
  if (memory.rules() == 0) {
    std::printf("Heap report skipped: no rules loaded from %s\n", data.c_str());
    return 0;
  }
  const double added = static_cast<double>(memory.heapAdded());
  std::printf("| %s | %zu | %.2f | %.1f |\n", targetName(), memory.rules(),
              added / 1e6, added / static_cast<double>(memory.rules()));
  return 0;
}
