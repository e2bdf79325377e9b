// The host of an address and its domain candidates: every run of two or
// more consecutive host labels, the exact keys under which domain-keyed
// rules are looked up.
//
// For labels L0..L(n-1) the candidates are, for j from n-2 down to 0, the
// runs Lj..Li for i from j+1 up to n-1: a.b.c.d gives c.d, b.c, b.c.d, a.b,
// a.b.c, a.b.c.d. Only the first 128 bytes of a host are split; empty labels
// vanish; repeats are kept.
#ifndef QUIBEX_ENGINE_HOST_CANDIDATES_H_
#define QUIBEX_ENGINE_HOST_CANDIDATES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// The domain candidates of a host, in order, repeats kept.
std::vector<std::string> domainCandidates(std::string_view host);

// The domain candidates of one host with their hashes, built without
// allocating once the list has grown to the largest host seen.
//
// Thread-safety: none. Views returned stay valid until the next assign().
class CandidateList {
 public:
  struct Candidate {
    std::string_view text;  // the candidate, a view into this object
    uint64_t hash;          // hashKey(text)
    uint32_t entry;  // its entry in the engine's domain table, set by locate()
    uint32_t lanes;  // the containers holding rules under it, ditto
  };

  CandidateList() = default;
  CandidateList(const CandidateList&) = delete;
  CandidateList& operator=(const CandidateList&) = delete;

  // Replaces the list with the candidates of host.
  void assign(std::string_view host);

  size_t size() const { return candidates_.size(); }
  bool empty() const { return candidates_.empty(); }
  const Candidate& operator[](size_t i) const { return candidates_[i]; }
  auto begin() const { return candidates_.begin(); }
  auto end() const { return candidates_.end(); }
  // Calls find(&candidate) for each candidate, to set its entry and lanes.
  template <class F>
  void locate(F&& find) {
    for (Candidate& c : candidates_) find(&c);
  }

 private:
  // The labels joined by single dots, so every candidate is a contiguous run.
  char joined_[kSplitBufferBytes];
  std::vector<Candidate> candidates_;  // in candidate order
};

}  // namespace quibex

#endif  // QUIBEX_ENGINE_HOST_CANDIDATES_H_
