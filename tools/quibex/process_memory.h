// The memory of the running process as the kernel reports it, for the
// "stats" command and the benchmark report.
#ifndef QUIBEX_TOOLS_QUIBEX_PROCESS_MEMORY_H_
#define QUIBEX_TOOLS_QUIBEX_PROCESS_MEMORY_H_

#include <cstddef>

namespace quibex::tool {

// Resident memory now, in bytes (from /proc/self/statm); 0 when unknown.
size_t residentBytes();

// The highest resident memory so far, in bytes (VmHWM of
// /proc/self/status); 0 when unknown.
size_t peakResidentBytes();

}  // namespace quibex::tool

#endif  // QUIBEX_TOOLS_QUIBEX_PROCESS_MEMORY_H_
