// The memory of the running process as the kernel reports it, for the
// quibex tool's "stats" command and the benchmarks.
#ifndef QUIBEX_MEASURE_PROCESS_MEMORY_H_
#define QUIBEX_MEASURE_PROCESS_MEMORY_H_

#include <cstddef>

namespace quibex {

// Resident memory now, in bytes (from /proc/self/statm); 0 when unknown.
size_t residentBytes();

// The highest resident memory so far, in bytes (VmHWM of
// /proc/self/status); 0 when unknown.
size_t peakResidentBytes();

}  // namespace quibex

#endif  // QUIBEX_MEASURE_PROCESS_MEMORY_H_
