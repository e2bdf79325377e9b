// Host extraction, label splitting and domain candidates.
#include "engine/host_candidates.h"

#include <cstring>

#include "engine/table_support.h"

namespace quibex {

std::string_view extractHostView(std::string_view address,
                                 std::string_view* hostWithPort) {
  size_t start = address.find("://");
  start = start == std::string_view::npos ? 0 : start + 3;
  std::string_view withPort = address.substr(start);
  withPort = withPort.substr(0, withPort.find('/'));
  if (hostWithPort != nullptr) *hostWithPort = withPort;
  return withPort.substr(0, withPort.find(':'));
}

std::string extractHost(std::string_view address, std::string* hostWithPort) {
  std::string_view withPort;
  const std::string_view host = extractHostView(address, &withPort);
  if (hostWithPort != nullptr) {
    hostWithPort->assign(withPort.data(), withPort.size());
  }
  return std::string(host);
}

std::vector<std::string> splitTokens(std::string_view text,
                                     std::string_view delimiters) {
  text = text.substr(0, kSplitBufferBytes);
  std::vector<std::string> tokens;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = text.find_first_not_of(delimiters, pos);
    if (start == std::string_view::npos) break;
    size_t end = text.find_first_of(delimiters, start);
    if (end == std::string_view::npos) end = text.size();
    tokens.emplace_back(text.substr(start, end - start));
    pos = end;
  }
  return tokens;
}

std::vector<std::string> domainCandidates(std::string_view host) {
  const std::vector<std::string> labels = splitTokens(host, ".");
  std::vector<std::string> candidates;
  const size_t n = labels.size();
  if (n < 2) return candidates;
  candidates.reserve(n * (n - 1) / 2);
  for (size_t j = n - 1; j-- > 0;) {
    std::string run = labels[j];
    for (size_t i = j + 1; i < n; ++i) {
      run += '.';
      run += labels[i];
      candidates.push_back(run);
    }
  }
  return candidates;
}

void CandidateList::assign(std::string_view host) {
  candidates_.clear();
  host = host.substr(0, kSplitBufferBytes);

  // Join the labels with single dots, remembering where each one starts and
  // ends; at most 64 labels fit in 128 bytes.
  size_t starts[kSplitBufferBytes / 2 + 1];
  size_t ends[kSplitBufferBytes / 2 + 1];
  size_t labels = 0;
  size_t length = 0;
  for (size_t pos = 0; pos < host.size();) {
    if (host[pos] == '.') {
      ++pos;
      continue;
    }
    size_t end = host.find('.', pos);
    if (end == std::string_view::npos) end = host.size();
    if (labels > 0) joined_[length++] = '.';
    starts[labels] = length;
    std::memcpy(joined_ + length, host.data() + pos, end - pos);
    length += end - pos;
    ends[labels] = length;
    ++labels;
    pos = end;
  }
  if (labels < 2) return;
  for (size_t j = labels - 1; j-- > 0;) {
    for (size_t i = j + 1; i < labels; ++i) {
      const std::string_view text(joined_ + starts[j], ends[i] - starts[j]);
      candidates_.push_back(Candidate{text, hashKey(text), 0, 0});
    }
  }
}

}  // namespace quibex
