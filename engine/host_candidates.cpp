// Host extraction, label splitting and domain candidates.
#include "engine/host_candidates.h"

#include <cstring>

#include "engine/domain_rule_table.h"
#include "engine/table_support.h"
#include "filters/vector_scan.h"
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

// Without the vector scan an address takes extractHostView() and then
// HostLabels::assign().
#if defined(QUIBEX_VECTOR_SCAN)
// The dots, and the bytes that end a host ("/" and ":"), of sixteen bytes,
// as masks with kMaskBits bits a byte: byte i is bit kMaskBits * i.
#if defined(__SSE2__)
using ByteMask = uint32_t;
constexpr unsigned kMaskBits = 1;
inline void classify16(const char* p, ByteMask* dots, ByteMask* stops) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  *dots = static_cast<ByteMask>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))));
  *stops = static_cast<ByteMask>(
      _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('/')),
                                     _mm_cmpeq_epi8(v, _mm_set1_epi8(':')))));
}
#else
// NEON has no byte mask: four bits a byte, from the comparison's 16-bit
// lanes shifted and narrowed, one of them kept.
using ByteMask = uint64_t;
constexpr unsigned kMaskBits = 4;
inline ByteMask nibbleMask(uint8x16_t matches) {
  const uint8x8_t narrowed = vshrn_n_u16(vreinterpretq_u16_u8(matches), 4);
  return vget_lane_u64(vreinterpret_u64_u8(narrowed), 0) &
         0x1111111111111111ull;
}
inline void classify16(const char* p, ByteMask* dots, ByteMask* stops) {
  const uint8x16_t v = vld1q_u8(reinterpret_cast<const uint8_t*>(p));
  *dots = nibbleMask(vceqq_u8(v, vdupq_n_u8('.')));
  *stops = nibbleMask(
      vorrq_u8(vceqq_u8(v, vdupq_n_u8('/')), vceqq_u8(v, vdupq_n_u8(':'))));
}
#endif
// The byte of the lowest bit of a nonzero mask.
inline size_t firstByte(ByteMask mask) {
  return static_cast<unsigned>(__builtin_ctzll(mask)) / kMaskBits;
}
#endif

}  // namespace

std::string_view extractHostView(std::string_view address,
                                 std::string_view* hostWithPort) {
  // The host starts after the first "://": right after the scheme of an
  // address that begins with one of the two common ones.
  size_t start = commonSchemeLength(address);
  if (start == 0) start = hostStart(address);
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

bool HostLabels::assignFromAddress(std::string_view address,
                                   std::string_view* host) {
#if defined(QUIBEX_VECTOR_SCAN)
  const size_t start = commonSchemeLength(address);
  if (start == 0) return false;
  const size_t size = address.size();
  if (size < 16) return false;
  // Sixteen bytes at a time from the host's start; the last bytes of the
  // address are read as the sixteen that end it, their masks shifted down.
  const char* const bytes = address.data() + start;
  const size_t rest = size - start;
  size_t count = 0;  // labels found
  size_t pos = 0;    // where the current label starts
  size_t end;        // where the host ends
  for (size_t offset = 0;; offset += 16) {
    if (offset >= kSplitBufferBytes) return false;
    const size_t left = rest - offset;
    if (left == 0) {
      end = offset;
      break;
    }
    ByteMask dots;
    ByteMask stops;
    if (left >= 16) {
      classify16(bytes + offset, &dots, &stops);
    } else {
      classify16(address.data() + size - 16, &dots, &stops);
      const unsigned past = kMaskBits * static_cast<unsigned>(16 - left);
      dots >>= past;
      // The address's end ends the host too.
      stops = stops >> past | ByteMask{1} << (kMaskBits * left);
    }
    if (stops != 0) dots &= (stops & (0 - stops)) - 1;
    for (; dots != 0; dots &= dots - 1) {
      const size_t dot = offset + firstByte(dots);
      if (dot == pos) return false;  // an empty label: the general split
      starts_[count] = static_cast<uint8_t>(pos);
      ends_[count] = static_cast<uint8_t>(dot);
      ++count;
      pos = dot + 1;
    }
    if (stops != 0) {
      end = offset + firstByte(stops);
      break;
    }
  }
  // A last label left empty by a closing dot (or an empty host) is
  // dropped, as the general split drops it.
  if (end > pos) {
    starts_[count] = static_cast<uint8_t>(pos);
    ends_[count] = static_cast<uint8_t>(end);
    ++count;
  }
  count_ = count;
  text_ = bytes;
  joined_ = false;
  *host = std::string_view(bytes, end);
  return true;
#else
  (void)address;
  (void)host;
  return false;
#endif
}

__attribute__((noinline)) size_t HostLabels::placeOfJoined(size_t offset,
                                                           size_t size) const {
  size_t first = 0;
  while (starts_[first] != offset) ++first;
  size_t last = first;
  while (ends_[last] != offset + size) ++last;
  return place(first, last);
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
  setSize(host);
}

__attribute__((noinline)) void CandidateList::grow() {
  probes_.resize(size_);
  located_.resize(size_);
}

// One function from the address to the located candidates: the pass over
// the address and the lookups inlined (the general split, the lists'
// growth and the rare joined places stay out of line).
__attribute__((flatten)) std::string_view CandidateList::locateAddress(
    std::string_view address, const DomainRuleTable& table) {
  const std::string_view host = assignAddress(address);
  locate(table);
  return host;
}

__attribute__((noinline)) std::string_view CandidateList::splitHostOf(
    std::string_view address) {
  const std::string_view host = extractHostView(address, nullptr);
  labels_.assign(host);
  return host;
}

void CandidateList::locate(const DomainRuleTable& table) {
  locatedCount_ = 0;
  lanes_ = 0;
  const DomainRuleTable::Finder finder(table);
  // A table without slots holds no key.
  if (size_ == 0 || finder.empty()) return;
  if (located_.size() < size_) grow();
  const char* const text = labels_.text();
  // Hashes the candidates of count labels into out, in candidate order,
  // each one's home slot starting to load as it is hashed, so that the
  // lookups wait for memory once rather than in turn; returns their end.
  const auto hashAll = [this, &finder, text](size_t count, Probe* out) {
    for (size_t first = count - 1; first-- > 0;) {
      const size_t start = labels_.start(first);
      for (size_t last = first + 1; last < count; ++last) {
        const size_t size = labels_.end(last) - start;
        const uint64_t hash = hashKey(std::string_view(text + start, size));
        *out++ = Probe{hash, text + start, static_cast<uint32_t>(size),
                       finder.prefetchHome(hash)};
      }
    }
    return out;
  };
  // Looks up one candidate and keeps it, when located, after the found
  // ones before it, its lanes added to lanes.
  Located* const located = located_.data();
  const auto find = [this, &table, &finder, text, located](
                        const Probe& probe, size_t* found, uint32_t* lanes) {
    const std::string_view key(probe.text, probe.size);
    const uint32_t entry = finder.findFrom(key, probe.hash, probe.home);
    if (entry == DomainRuleTable::kNoEntry) return;
    for (size_t k = 0; k < *found; ++k) {
      if (located[k].entry == entry) return;
    }
    const uint32_t entryLanes = table.lanesOf(entry);
    const size_t place =
        labels_.placeOfText(static_cast<size_t>(probe.text - text), key.size());
    located[(*found)++] = Located{
        key, entry, entryLanes,
        KeyPlace(place == HostLabels::kNotInHost ? nullptr : host_ + place,
                 key.size())};
    *lanes |= entryLanes;
  };
  size_t found = 0;
  uint32_t lanes = 0;
  // The probe of the candidate from the label starting at start to the one
  // ending at end.
  const auto probeOf = [&finder, text](size_t start, size_t end) {
    const size_t size = end - start;
    const uint64_t hash = hashKey(std::string_view(text + start, size));
    return Probe{hash, text + start, static_cast<uint32_t>(size),
                 finder.prefetchHome(hash)};
  };
  // Hosts of two and three labels, most of them, keep their candidates on
  // the stack, without the loops.
  const size_t count = labels_.count();
  if (count == 2) {
    find(probeOf(labels_.start(0), labels_.end(1)), &found, &lanes);
  } else if (count == 3) {
    const size_t start0 = labels_.start(0);
    const size_t end2 = labels_.end(2);
    const Probe probes[3] = {probeOf(labels_.start(1), end2),
                             probeOf(start0, labels_.end(1)),
                             probeOf(start0, end2)};
    find(probes[0], &found, &lanes);
    find(probes[1], &found, &lanes);
    find(probes[2], &found, &lanes);
  } else {
    // grow() keeps probes_ as long as located_.
    const Probe* const end = hashAll(count, probes_.data());
    for (const Probe* probe = probes_.data(); probe != end; ++probe) {
      find(*probe, &found, &lanes);
    }
  }
  locatedCount_ = found;
  lanes_ = lanes;
}

}  // namespace quibex
