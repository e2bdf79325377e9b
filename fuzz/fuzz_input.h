// Splitting one fuzz input into the fields a target needs, and the check
// that aborts on a broken invariant (so libFuzzer records the input).
#ifndef QUIBEX_FUZZ_FUZZ_INPUT_H_
#define QUIBEX_FUZZ_FUZZ_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace quibex::fuzz {

// The input's fields: the bytes between line feeds, at most max of them;
// the last field takes the rest.
inline std::vector<std::string> fields(const uint8_t* data, size_t size,
                                       size_t max) {
  std::vector<std::string> out;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (out.size() + 1 < max) {
    const size_t feed = rest.find('\n');
    if (feed == std::string_view::npos) break;
    out.emplace_back(rest.substr(0, feed));
    rest.remove_prefix(feed + 1);
  }
  out.emplace_back(rest);
  while (out.size() < max) out.emplace_back();
  return out;
}

// Aborts with a message when an invariant does not hold.
#define QUIBEX_FUZZ_CHECK(condition)                                           \
  do {                                                                         \
    if (!(condition)) {                                                        \
      std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, \
                   __LINE__);                                                  \
      std::abort();                                                            \
    }                                                                          \
  } while (0)

}  // namespace quibex::fuzz

#endif  // QUIBEX_FUZZ_FUZZ_INPUT_H_
