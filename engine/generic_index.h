// GenericIndex: a token index over the four generic sequences (the request
// rules without a domain key), so that a request is tested only against
// the rules that can possibly match it.
//
// A token is a maximal run of ASCII letters and digits. A rule is filed
// under one token of its pattern that every matching URL must contain as a
// whole token: a run of the pattern bounded on both sides by a literal byte
// that is not a letter or digit, a "^", or an anchored end of the pattern
// (never by "*"). Among its tokens the rule takes the one the fewest other
// rules use, avoiding tokens that nearly every URL carries. Rules without
// such a token are tried for every request. A request tokenises its URL
// once and collects the buckets of its tokens; each generic sequence then
// tests only the rules in those buckets. Since a sequence only answers
// whether any of its rules matches, the order of the tries does not matter.
#ifndef QUIBEX_ENGINE_GENERIC_INDEX_H_
#define QUIBEX_ENGINE_GENERIC_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quibex {

class RequestFacts;
class RequestFilter;

// The four generic sequences, in the order the block decision consults them.
enum GenericSlot : size_t {
  kExceptions1Slot = 0,
  kBlocking1Slot,
  kExceptions0Slot,
  kBlocking0Slot,
  kGenericSlots,
};

// Thread-safety: none. build(), beginRequest() and match() mutate scratch
// state; the engine mutex guards every call.
class GenericIndex {
 public:
  GenericIndex() = default;
  GenericIndex(const GenericIndex&) = delete;
  GenericIndex& operator=(const GenericIndex&) = delete;

  // Rebuilds the index over the given sequences, indexed by GenericSlot.
  // REQUIRES: the filters outlive the index or the next build()/clear().
  void build(const std::vector<const RequestFilter*>* const
                 sequences[kGenericSlots]);
  // Forgets every rule.
  void clear();

  // Collects the buckets of the tokens of url for the following match()
  // calls. REQUIRES: url stays valid until the last of them.
  void beginRequest(std::string_view url);
  // A rule of the sequence in slot that matches the request, or null.
  // REQUIRES: beginRequest() was called with request.url().
  const RequestFilter* match(GenericSlot slot, const RequestFacts& request);

  size_t ruleCount() const { return entries_.size(); }
  // Rules without a usable token, tried for every request.
  size_t untokenizedCount() const;
  // Heap bytes held by the index.
  size_t memoryBytes() const;

 private:
  struct Bucket {
    uint64_t hash;                        // token hash; 0 marks the fallback
    uint32_t offsets[kGenericSlots + 1];  // entries of slot s: [s, s+1)
  };

  const Bucket* findBucket(uint64_t hash) const;
  void addHit(uint32_t bucket);

  std::vector<const RequestFilter*> entries_;  // grouped by bucket, then slot
  std::vector<Bucket> buckets_;   // bucket 0 holds the untokenized rules
  std::vector<uint32_t> table_;   // open-addressed: bucket index + 1
  std::vector<uint64_t> filter_;  // one bit per token hash, to skip probes
  std::vector<uint32_t> hits_;    // scratch: buckets of this request
  std::vector<uint32_t> seen_;    // scratch: request stamp per bucket
  uint32_t stamp_ = 0;            // scratch: current request stamp
};

// Hash of one token; never 0. Exposed for tests.
uint64_t tokenHash(std::string_view token);

// The tokens of pattern that every matching URL must contain as whole
// tokens (see above), in pattern order. Exposed for tests and tools.
std::vector<std::string_view> safeTokens(std::string_view pattern);

}  // namespace quibex

#endif  // QUIBEX_ENGINE_GENERIC_INDEX_H_
