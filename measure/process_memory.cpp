// Process memory from /proc; see process_memory.h.
#include "measure/process_memory.h"

#include <unistd.h>

#include <fstream>
#include <string>

namespace quibex {

size_t residentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t totalPages = 0;
  size_t residentPages = 0;
  if (!(statm >> totalPages >> residentPages)) return 0;
  const long pageSize = sysconf(_SC_PAGESIZE);
  return pageSize > 0 ? residentPages * static_cast<size_t>(pageSize) : 0;
}

size_t peakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string word;
  while (status >> word) {
    if (word == "VmHWM:") {
      size_t kib = 0;
      return (status >> kib) ? kib * 1024 : 0;
    }
  }
  return 0;
}

}  // namespace quibex
