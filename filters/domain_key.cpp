// The domain key of a pattern or page URL; see domain_key.h.
#include "filters/domain_key.h"

#include <cstring>

#include "filters/text_util.h"

namespace quibex {

std::string_view domainKeyView(std::string_view text) {
  if (text.empty()) return {};
  const size_t start = skipSchemeAndStars(text);
  const char* bytes = text.data();

  size_t end = start;
  const void* slash = std::memchr(bytes + start, '/', text.size() - start);
  if (slash != nullptr) {
    end = static_cast<size_t>(static_cast<const char*>(slash) - bytes);
  } else {
    end = text.size();
    if (isWildcard(bytes[end - 1])) {
      --end;
      if (end > 0 && isWildcard(bytes[end - 1])) --end;
    }
    if (end < start) end = start;
  }

  // Only the last wildcard before end and the dots after it decide the
  // key: it starts behind the first dot after that wildcard (at start when
  // there is no wildcard) and needs a dot of its own beyond that. So the
  // scan runs back from end and stops at the first wildcard it meets.
  size_t firstDot = end;  // the first dot after the last wildcard
  size_t dots = 0;        // dots after the last wildcard
  bool wildcard = false;
  for (size_t i = end; i > start;) {
    const char c = bytes[--i];
    if (c == '.') {
      firstDot = i;
      ++dots;
    } else if (isWildcard(c)) {
      wildcard = true;
      break;
    }
  }
  const size_t keyStart = wildcard ? firstDot + 1 : start;
  const bool dotInKey = dots > (wildcard ? 1u : 0u);
  if (!dotInKey || keyStart >= end || bytes[keyStart] == '.' ||
      bytes[end - 1] == '.') {
    return {};
  }
  return text.substr(keyStart, end - keyStart);
}

}  // namespace quibex
