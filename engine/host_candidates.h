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

class DomainRuleTable;

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
  // Replaces the labels with those of the host of address, found in the
  // same pass, and sets *host to extractHostView(address, nullptr); false,
  // with the labels and *host unspecified, when the address is not of the
  // common shape this pass takes (a leading "https://" or "http://", a
  // host of fewer than kSplitBufferBytes bytes without empty labels, an
  // address of 16 bytes or more, a build with a vector scan).
  bool assignFromAddress(std::string_view address, std::string_view* host);

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

  // The joined labels' text, and label k's start and end in it.
  // REQUIRES: k < count().
  const char* text() const { return text_; }
  size_t start(size_t k) const { return starts_[k]; }
  size_t end(size_t k) const { return ends_[k]; }
  // Where the run of labels that stands at text() + offset, size bytes
  // long, stands in the host: place() of that run. REQUIRES: offset and
  // size are those of some run(first, last).
  size_t placeOfText(size_t offset, size_t size) const {
    if (!joined_) return offset;
    return placeOfJoined(offset, size);
  }

  // Calls visit(first, last) for every domain candidate in candidate order:
  // for first from count() - 2 down to 0, last from first + 1 up to
  // count() - 1.
  template <class Visit>
  void forEachCandidate(Visit&& visit) const {
    // The count read once: visit may store bytes, which the compiler would
    // otherwise take for writes to it.
    const size_t count = count_;
    if (count < 2) return;
    for (size_t first = count - 1; first-- > 0;) {
      for (size_t last = first + 1; last < count; ++last) visit(first, last);
    }
  }

 private:
  // placeOfText() when empty labels were dropped.
  size_t placeOfJoined(size_t offset, size_t size) const;

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

// The domain candidates of one host, and those of them that the engine's
// domain table holds (its located candidates), built without allocating
// once the lists have grown to the largest host seen.
//
// A host has three candidates on average and the table holds about one in
// five of them, so a candidate is hashed and probed from its labels alone;
// the record a rule's test reads (its text, entry, lanes and place) is
// written for a located one only.
//
// Thread-safety: none. Views returned stay valid until the next assign()
// and while the host text lives.
class CandidateList {
 public:
  // A candidate whose key the domain table holds.
  struct Located {
    std::string_view text;  // the candidate, a view into the host or here
    uint32_t entry;         // its entry in the domain table
    uint32_t lanes;         // the containers holding rules under it
    // Where text stands in the host text given to assign(), byte for byte;
    // nowhere when empty labels were dropped inside it.
    KeyPlace place;
  };

  CandidateList() = default;
  CandidateList(const CandidateList&) = delete;
  CandidateList& operator=(const CandidateList&) = delete;

  // Replaces the candidates with those of host; none is located.
  void assign(std::string_view host);
  // Replaces the candidates with those of the host of address, and returns
  // that host: extractHostView(address, nullptr), then assign() of it, in
  // one pass over the address where it can.
  std::string_view assignAddress(std::string_view address) {
    std::string_view host;
    if (!labels_.assignFromAddress(address, &host)) {
      host = splitHostOf(address);
    }
    setSize(host);
    return host;
  }
  // assignAddress(address), then locate(table), in one call. Returns the
  // host of address.
  std::string_view locateAddress(std::string_view address,
                                 const DomainRuleTable& table);
  // Looks every candidate up in table, in candidate order, and keeps those
  // it holds as the located ones; a candidate repeating the key of an
  // earlier located one (a.a.a has a.a twice) is left out, so that each
  // chain is tried once. REQUIRES: table is unchanged until the next
  // assign().
  void locate(const DomainRuleTable& table);

  // How many candidates the host has.
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // Calls visit(text, where) for every candidate in candidate order: where
  // is the place of text in the host, byte for byte, or null when empty
  // labels were dropped inside it.
  template <class Visit>
  void forEachCandidate(Visit&& visit) const {
    labels_.forEachCandidate([this, &visit](size_t first, size_t last) {
      visit(labels_.run(first, last), whereOf(first, last));
    });
  }

  // The located candidates, in candidate order.
  Located* begin() { return located_.data(); }
  Located* end() { return located_.data() + locatedCount_; }
  const Located* begin() const { return located_.data(); }
  const Located* end() const { return located_.data() + locatedCount_; }
  // The lanes of all located candidates together.
  uint32_t lanes() const { return lanes_; }

 private:
  // A candidate while locate() runs: its hash, its text and its home slot
  // in the table. No byte-sized member: a byte store may alias anything,
  // and would make the compiler reread the labels after each record.
  struct Probe {
    uint64_t hash;
    const char* text;
    uint32_t size;
    uint32_t home;
  };

  // assignAddress() of an address its one pass does not take: the host
  // found and then split. Returns the host.
  std::string_view splitHostOf(std::string_view address);
  // Makes both lists hold size_ candidates.
  void grow();
  // Notes host as the host split, its candidates counted, none located.
  void setSize(std::string_view host) {
    host_ = host.data();
    const size_t labels = labels_.count();
    size_ = labels < 2 ? 0 : labels * (labels - 1) / 2;
    locatedCount_ = 0;
    lanes_ = 0;
  }

  const char* whereOf(size_t first, size_t last) const {
    const size_t place = labels_.place(first, last);
    return place == HostLabels::kNotInHost ? nullptr : host_ + place;
  }

  HostLabels labels_;           // its labels; the texts point here
  const char* host_ = nullptr;  // the host text given to assign()
  // Each vector keeps the length of the most candidates any host had, so
  // that a list is built without allocating.
  std::vector<Probe> probes_;     // the candidates, while locate() runs
  std::vector<Located> located_;  // the first locatedCount_ are located
  size_t size_ = 0;               // candidates of the current host
  size_t locatedCount_ = 0;       // of them located
  uint32_t lanes_ = 0;            // the lanes of the located ones
};

}  // namespace quibex

#endif  // QUIBEX_ENGINE_HOST_CANDIDATES_H_
