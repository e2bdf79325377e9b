// Host extraction, label splitting and domain candidates.
#include "engine/host_candidates.h"

#include <cstring>

#include "engine/domain_rule_table.h"
#include "engine/table_support.h"
#include "filters/text_util.h"

namespace quibex {

namespace {

// Where the host of an address without a leading "https://" or "http://"
// starts: after its first "://", else at its start. Out of line, so that
// the common case keeps a short prologue.
__attribute__((noinline)) size_t hostStart(std::string_view address) {
  const size_t scheme = address.find("://");
  return scheme == std::string_view::npos ? 0 : scheme + 3;
}

}  // namespace

std::string_view extractHostView(std::string_view address,
                                 std::string_view* hostWithPort) {
  // The host starts after the first "://": right after the scheme of an
  // address that begins with one of the two common ones.
  size_t start;
  if (startsWith(address, "https://")) {
    start = 8;
  } else if (startsWith(address, "http://")) {
    start = 7;
  } else {
    start = hostStart(address);
  }
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

void HostLabels::assign(std::string_view host) {
  host = host.substr(0, kSplitBufferBytes);
  const char* const bytes = host.data();
  const size_t hostSize = host.size();
  count_ = 0;
  size_t gapAfter = 0;  // labels before the first empty one that follows
                        // a label; 0 for none
  size_t pos = 0;       // where the current label starts
  // Ends the current label at end, a dot or the host's end; an empty one
  // is dropped.
  const auto endLabel = [this, &gapAfter, &pos](size_t end) {
    if (end > pos) {
      starts_[count_] = static_cast<uint8_t>(pos);
      ends_[count_] = static_cast<uint8_t>(end);
      ++count_;
    } else if (gapAfter == 0) {
      gapAfter = count_;
    }
    pos = end + 1;
  };
  size_t i = 0;
  if (kLittleEndian) {
    // Eight bytes at a time, each dot found from the word's mask.
    for (; i + 8 <= hostSize; i += 8) {
      uint64_t word;
      std::memcpy(&word, bytes + i, 8);
      for (uint64_t dots = bytesEqual(word, '.'); dots != 0; dots &= dots - 1) {
        endLabel(i + static_cast<size_t>(__builtin_ctzll(dots)) / 8);
      }
    }
  }
  for (; i < hostSize; ++i) {
    if (bytes[i] == '.') endLabel(i);
  }
  endLabel(hostSize);
  // An empty label lies between two labels when one follows it.
  const bool gaps = gapAfter != 0 && count_ > gapAfter;
  text_ = bytes;
  joined_ = gaps;
  if (!gaps) return;
  // Join the labels with single dots in buffer_, keeping their places.
  size_t length = 0;
  for (size_t k = 0; k < count_; ++k) {
    hostStarts_[k] = starts_[k];
    hostEnds_[k] = ends_[k];
    if (k > 0) buffer_[length++] = '.';
    const size_t size = ends_[k] - starts_[k];
    std::memcpy(buffer_ + length, bytes + starts_[k], size);
    starts_[k] = static_cast<uint8_t>(length);
    length += size;
    ends_[k] = static_cast<uint8_t>(length);
  }
  text_ = buffer_;
}

std::vector<std::string> domainCandidates(std::string_view host) {
  const HostLabels labels(host);
  std::vector<std::string> candidates;
  const size_t n = labels.count();
  if (n >= 2) candidates.reserve(n * (n - 1) / 2);
  labels.forEachCandidate([&](size_t first, size_t last) {
    candidates.emplace_back(labels.run(first, last));
  });
  return candidates;
}

bool isDomainCandidate(std::string_view text) {
  const HostLabels labels(extractHostView(text, nullptr));
  bool found = false;
  labels.forEachCandidate([&](size_t first, size_t last) {
    found = found || labels.run(first, last) == text;
  });
  return found;
}

void CandidateList::assign(std::string_view host) {
  labels_.assign(host);
  host_ = host.data();
  const size_t labels = labels_.count();
  size_ = labels < 2 ? 0 : labels * (labels - 1) / 2;
  locatedCount_ = 0;
  lanes_ = 0;
}

void CandidateList::locate(const DomainRuleTable& table) {
  locatedCount_ = 0;
  lanes_ = 0;
  const DomainRuleTable::Finder finder(table);
  // A table without slots holds no key.
  if (size_ == 0 || finder.empty()) return;
  if (probes_.size() < size_) {
    probes_.resize(size_);
    located_.resize(size_);
  }
  // Each candidate's home slot starts loading as it is hashed, so that the
  // lookups wait for memory once rather than in turn.
  Probe* next = probes_.data();
  labels_.forEachCandidate([this, &finder, &next](size_t first, size_t last) {
    const uint64_t hash = hashKey(labels_.run(first, last));
    *next++ = Probe{hash, finder.prefetchHome(hash),
                    static_cast<uint8_t>(first), static_cast<uint8_t>(last)};
  });
  uint32_t lanes = 0;
  Located* const located = located_.data();
  size_t count = 0;
  for (const Probe* probe = probes_.data(); probe != next; ++probe) {
    const std::string_view text = labels_.run(probe->first, probe->last);
    const uint32_t entry = finder.findFrom(text, probe->hash, probe->home);
    if (entry == DomainRuleTable::kNoEntry) continue;
    bool repeated = false;
    for (size_t k = 0; k < count; ++k) repeated |= located[k].entry == entry;
    if (repeated) continue;
    const uint32_t entryLanes = table.lanesOf(entry);
    located[count++] =
        Located{text, entry, entryLanes,
                KeyPlace(whereOf(probe->first, probe->last), text.size())};
    lanes |= entryLanes;
  }
  locatedCount_ = count;
  lanes_ = lanes;
}

}  // namespace quibex
