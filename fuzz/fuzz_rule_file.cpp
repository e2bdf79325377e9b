// A whole rule file loaded through the pass-through decoder on the
// engine's own background thread, then queried with URLs made from its
// lines. Nothing may crash, hang or leak, and the load must end.
#include <sys/mman.h>
#include <unistd.h>

#include "engine/filter_engine_impl.h"
#include "engine/line_decoder.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quibex;
  const int fd = memfd_create("rules", 0);
  if (fd < 0) return 0;
  size_t written = 0;
  while (written < size) {
    const ssize_t n = write(fd, data + written, size - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  PassThroughDecoder decoder;
  {
    FilterEngineImpl engine(decoder);
    engine.loadRules(path, path);
    engine.waitForLoads();
    QUIBEX_FUZZ_CHECK(!engine.isLoading());
    const std::vector<std::string> lines = fuzz::fields(data, size, 8);
    for (const std::string& line : lines) {
      const std::string url = "http://" + line;
      engine.shouldBlock(url, line);
      engine.shouldBlock(line, "");
      engine.getSelectors(line, url, "");
      engine.getSelectors(url, line, line);
    }
  }
  close(fd);
  return 0;
}
