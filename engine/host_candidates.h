// The host of an address and its domain candidates: every run of two or
// more consecutive host labels, the exact keys under which domain-keyed
// rules are looked up.
//
// For labels L0..L(n-1) the candidates are, for j from n-2 down to 0, the
// runs Lj..Li for i from j+1 up to n-1: a.b.c.d gives c.d, b.c, b.c.d, a.b,
// a.b.c, a.b.c.d. Only the first 128 bytes of a host are split; empty labels
// vanish; repeats are kept. HostLabels forms them; the rest of this file
// reads them from there.
#ifndef QUIBEX_ENGINE_HOST_CANDIDATES_H_
#define QUIBEX_ENGINE_HOST_CANDIDATES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "filters/request_filter.h"

namespace quibex {

// Bytes of a text that take part in a split.
inline constexpr size_t kSplitBufferBytes = 128;

// The host of an address: the text after the first "://" (or from the
// start) up to the first "/", cut at its first ":". *hostWithPort, when
// hostWithPort is not null, receives the same text before that cut.
std::string extractHost(std::string_view address, std::string* hostWithPort);
// The same as views into address.
std::string_view extractHostView(std::string_view address,
                                 std::string_view* hostWithPort);

// The non-empty tokens of the first kSplitBufferBytes bytes of text, cut at
// every byte of delimiters, in order.
std::vector<std::string> splitTokens(std::string_view text,
                                     std::string_view delimiters);

// The labels of a host: the non-empty runs between dots of its first
// kSplitBufferBytes bytes, joined by single dots so that every run of
// consecutive labels is one contiguous text (the host itself, unless an
// empty label inside it is dropped). The single place where the domain
// candidates of a host are formed: domainCandidates, CandidateList and
// isDomainCandidate all read them from here.
//
// Thread-safety: none. The views returned point into the host or into the
// object: valid until the next assign() and while the host text lives.
class HostLabels {
 public:
  // At most this many labels fit in kSplitBufferBytes bytes.
  static constexpr size_t kMaxLabels = kSplitBufferBytes / 2 + 1;
  // place() of a run that does not stand in the host as it is.
  static constexpr size_t kNotInHost = SIZE_MAX;

  HostLabels() = default;
  explicit HostLabels(std::string_view host) { assign(host); }
  HostLabels(const HostLabels&) = delete;
  HostLabels& operator=(const HostLabels&) = delete;

  // Replaces the labels with those of host.
  void assign(std::string_view host);

  size_t count() const { return count_; }
  // The labels first..last joined by single dots.
  // REQUIRES: first <= last < count().
  std::string_view run(size_t first, size_t last) const {
    return std::string_view(text_ + starts_[first],
                            ends_[last] - starts_[first]);
  }
  // Where run(first, last) stands in the host, byte for byte, or kNotInHost
  // when empty labels were dropped inside it. REQUIRES: as run().
  size_t place(size_t first, size_t last) const {
    if (!joined_) return starts_[first];
    return hostEnds_[last] - hostStarts_[first] == ends_[last] - starts_[first]
               ? hostStarts_[first]
               : kNotInHost;
  }

  // Calls visit(first, last) for every domain candidate in candidate order:
  // for first from count() - 2 down to 0, last from first + 1 up to
  // count() - 1.
  template <class Visit>
  void forEachCandidate(Visit&& visit) const {
    if (count_ < 2) return;
    for (size_t first = count_ - 1; first-- > 0;) {
      for (size_t last = first + 1; last < count_; ++last) visit(first, last);
    }
  }

 private:
  const char* text_ = nullptr;      // the joined labels: host or buffer_
  bool joined_ = false;             // text_ is buffer_
  char buffer_[kSplitBufferBytes];  // the labels joined, when empty
                                    // labels lie between them
  uint8_t starts_[kMaxLabels];      // each label's start in text_
  uint8_t ends_[kMaxLabels];        // and its end
  uint8_t hostStarts_[kMaxLabels];  // each label's start in the host,
  uint8_t hostEnds_[kMaxLabels];    // and its end, when joined_
  size_t count_ = 0;                // labels
};

// The domain candidates of a host, in order, repeats kept.
std::vector<std::string> domainCandidates(std::string_view host);

// True when text is a domain candidate of some address: a candidate of the
// host of the address text itself.
bool isDomainCandidate(std::string_view text);

// The domain candidates of one host with their hashes and their places in
// the host, built without allocating once the list has grown to the
// largest host seen.
//
// Thread-safety: none. Views returned stay valid until the next assign()
// and while the host text lives.
class CandidateList {
 public:
  struct Candidate {
    std::string_view text;  // the candidate, a view into the host or here
    uint64_t hash;          // hashKey(text)
    uint32_t entry;  // its entry in the engine's domain table, set by the
                     // caller after assign()
    uint32_t lanes;  // the containers holding rules under it, ditto
    // Where text stands in the host text given to assign(), byte for byte;
    // nowhere when empty labels were dropped inside it.
    KeyPlace place;
  };

  CandidateList() = default;
  CandidateList(const CandidateList&) = delete;
  CandidateList& operator=(const CandidateList&) = delete;

  // Replaces the list with the candidates of host; lanes() becomes 0.
  void assign(std::string_view host);

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const Candidate& operator[](size_t i) const { return candidates_[i]; }
  const Candidate* begin() const { return candidates_.data(); }
  const Candidate* end() const { return candidates_.data() + size_; }
  // Mutable, for the caller to set each candidate's entry and lanes.
  Candidate* begin() { return candidates_.data(); }
  Candidate* end() { return candidates_.data() + size_; }
  // The lanes of all candidates together, as the caller set them.
  uint32_t lanes() const { return lanes_; }
  void setLanes(uint32_t lanes) { lanes_ = lanes; }

 private:
  HostLabels labels_;  // its labels; the texts point here
  // The candidates in candidate order: the first size_ elements. The
  // vector keeps the length of the most candidates any host had, so that
  // a list is built without allocating.
  std::vector<Candidate> candidates_;
  size_t size_ = 0;     // candidates of the current host
  uint32_t lanes_ = 0;  // the lanes of all candidates, set by the caller
};

}  // namespace quibex

#endif  // QUIBEX_ENGINE_HOST_CANDIDATES_H_
