// GenericIndex: a token index over the four generic sequences (the request
// rules without a domain key), so that a request is tested only against
// the rules that can possibly match it.
//
// Every rule is filed under a key that any URL it matches must contain:
//  - a token: a maximal run of ASCII letters and digits of the pattern
//    bounded on both sides by a literal byte that is not a letter or digit,
//    a "^", or an anchored end of the pattern (never by "*"), so a matching
//    URL holds it as a whole token; or
//  - grams: a span of five literal bytes of the pattern (no "*" or "^"
//    among them), filed under both of its four-byte grams (at offsets 0
//    and 1), each with its own place in the pattern. A matching URL holds
//    the span somewhere, and so one of the two grams at an even position.
// A rule takes its least shared token, unless that token is one nearly
// every URL carries or is shared by many rules and a much less shared span
// exists; a rule without a span takes its least shared token whatever its
// share. A token the pattern has right after a "%" is never a key: a
// matching URL holds any other key after the same byte or a separator,
// never after a "%", so the URL scan may pass over the tokens that follow
// a "%" (an escape's, as in "%2F"). A gram nearly every URL carries (among
// them those that hold two bytes of the "://" after the scheme, which tell
// at most two bytes of the host) counts as shared by all rules. Rules with
// neither are tried for every request. A request collects the buckets of
// its URL's tokens and of its four-byte windows at even positions once,
// with where each occurs; each generic sequence then tests only the rules
// in those buckets. Since a sequence only answers whether any of its rules
// matches, the order of the tries does not matter.
//
// Before a candidate is matched, the piece of its pattern that holds its
// key (the run between two "*") is checked at each place the key occurs in
// the URL, from a copy kept in the index (only its bytes around the key are
// compared: the key stands there). Any match of the rule places that
// piece there, so a rule whose piece fits nowhere is turned away without
// scanning the URL or reading the rule: this bounds the work on a long URL
// that carries many rules' keys. Where the key occurs once, the piece's
// literal bytes next to it (up to four a side, kept in the entry as one
// word) are compared with the URL's first, in one masked comparison. When
// the tries at the occurrences would cost more than the URL is long (a
// long piece whose key repeats densely), one linear search for the piece
// in the whole URL decides instead, so a candidate costs at most a few
// times the URL's length. A key that occurs
// at more than a sixteenth of a long URL's bytes keeps no places at all:
// its candidates go straight to that search.
#ifndef QUIBEX_ENGINE_GENERIC_INDEX_H_
#define QUIBEX_ENGINE_GENERIC_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "filters/domain_name_set.h"
#include "filters/rule_options.h"

namespace quibex {

class RequestFacts;
class RequestFilter;

// Thread-safety: none. build(), beginRequest() and match() mutate scratch
// state; the engine mutex guards every call.
class GenericIndex {
 public:
  // The sequences it indexes: the generic sequences of the block decision,
  // each in the slot the engine's container table gives it.
  static constexpr size_t kSlots = 4;

  GenericIndex() = default;
  GenericIndex(const GenericIndex&) = delete;
  GenericIndex& operator=(const GenericIndex&) = delete;

  // Rebuilds the index over the given sequences, sequences[s] in slot s.
  // REQUIRES: the filters outlive the index or the next build()/clear().
  void build(const std::vector<const RequestFilter*>* const sequences[kSlots]);
  // Forgets every rule.
  void clear();

  // Collects the buckets of the tokens of url for the following match()
  // calls. REQUIRES: url stays valid until the last of them.
  void beginRequest(const std::string& url);
  // A rule of the sequence in slot that matches the request, or null.
  // REQUIRES: beginRequest() was called with request.url(), and every
  // match() since then was for this same request.
  const RequestFilter* match(size_t slot, const RequestFacts& request) {
    // No bucket of this request holds a rule of slot (both are 0 when the
    // index is empty): most requests have no rule of the first slot to try.
    if (((hitSlots_ | keyedSlots_) >> slot & 1) == 0) return nullptr;
    return matchSlot(slot, request);
  }

  // Heap bytes held by the index.
  size_t memoryBytes() const;

  // One place build() files a rule under (a rule filed under grams has one
  // per gram).
  struct Placement {
    uint64_t key;                 // the chosen key, 0 when none
    uint32_t slot;                // the slot of the rule's sequence
    const RequestFilter* filter;  // the rule
    size_t keyOffset;             // where the key stands in the pattern
    size_t keyLength;             // its length
  };

 private:
  struct Bucket {
    uint64_t key;                  // token or gram key; 0: no key
    uint32_t offsets[kSlots + 1];  // entries of slot s: [s, s+1)
    uint32_t slots;                // bit s: the bucket has entries of slot s
  };
  // A filed rule with what its cheap option tests need of a request and
  // the piece of its pattern around its key, so most candidates are turned
  // away without reading the rule itself.
  // A piece longer than 16 bits allow keeps only the part around its key
  // that fits: any place the whole piece fits, that part fits too.
  struct Entry {
    const RequestFilter* filter;  // the rule
    // The piece's literal bytes next to the key: the four places before it
    // in the low half and the four after it in the high half, as
    // windowAt() reads the URL there; 0 where the window does not reach.
    // Two words, so that a 32-bit target pads the entry no further.
    uint32_t window[2];
    uint32_t piece;      // start of the key's piece in pieces_
    uint16_t pieceSize;  // its length; 0 for a rule without a key
    uint16_t lead;       // bytes of the piece before the key
    uint16_t keyEnd;     // bytes of the piece up to the key's end
    uint8_t types;       // satisfiable type bits, kHasTypes for any mask
    uint8_t needs;       // Need bits
    // The window's reach: how many literal bytes it holds before the key
    // and after it (up to four a side, none past a "^"), as ahead | behind
    // << 3 under kReachMask; kWholePiece when it holds the whole piece;
    // kWholePattern when the pattern is the piece between two "*".
    uint8_t reach;
  };
  static constexpr size_t kMaxPieceBytes = UINT16_MAX;
  static constexpr uint8_t kHasTypes = 0x80;      // in Entry::types
  static constexpr uint8_t kReachMask = 0x3f;     // Entry::reach's byte counts
  static constexpr uint8_t kWholePiece = 0x40;    // in Entry::reach
  static constexpr uint8_t kWholePattern = 0x80;  // in Entry::reach
  // One place a bucket's key occurs in the URL; linked per bucket.
  struct Occurrence {
    uint32_t position;  // first byte of the token or gram in the URL
    uint32_t next;      // the bucket's previous occurrence, or kNoOccurrence
    uint32_t count;     // occurrences of the bucket's key up to this one
  };
  static constexpr uint32_t kNoOccurrence = UINT32_MAX;
  // In lastOccurrence_: the key occurs more than occurrenceCap_ times, and
  // its places are no longer kept; the piece check searches the whole URL.
  // Trying a piece at that many places would cost at least a sixteenth of
  // that search, so little is lost, and a URL that repeats a key at every
  // byte keeps a sixteenth of the places.
  static constexpr uint32_t kDenseKey = UINT32_MAX - 1;
  static constexpr uint32_t kMinOccurrenceCap = 64;
  // The room of occurrences_ when it first grows, and the most kept from
  // one request to the next.
  static constexpr size_t kMinOccurrenceRoom = 64;
  static constexpr size_t kKeptOccurrenceRoom = 65536;
  // The room of hits_ when the index is built.
  static constexpr size_t kMinHitRoom = 16;
  enum Need : uint32_t {
    // A rule with one party bit (rule_options.h) needs a request of that
    // party; the bits stand here as they are.
    kNeedsParty = kEitherParty,
    kNeedsPage = 4,     // a third-party option: the page must be given
    kNeedsPageKey = 8,  // page domains: the page must have a domain key
    kNeedsGate = 16,    // an untokenized rule with only included domains:
                        // one of those must occur in the page's key
  };
  // The steps of build() after the rules are placed: the buckets and their
  // entries from placements sorted by key and slot; the gate of the rules
  // without a key; the open-addressed table with its probe filters and the
  // per-bucket scratch.
  void fileBuckets(const std::vector<Placement>& placements);
  void gateUnkeyedRules();
  // Whether an included domain of a gated rule occurs in pageKey.
  bool gateOpens(std::string_view pageKey) const;
  void fillTable();
  // The bucket of key (m is mix(key)), or 0 when it has none (bucket 0,
  // the rules without a key, is never in the table).
  // REQUIRES: fillTable() has filled the table.
  uint32_t bucketOf(uint64_t key, uint64_t m) const;
  // Whether key has a bucket. REQUIRES: as bucketOf().
  bool holdsKey(uint64_t key) const;
  Entry makeEntry(const RequestFilter* filter, size_t keyOffset,
                  size_t keyLength);
  // Whether entry's piece fits at some occurrence of bucket's key.
  bool pieceFits(const Entry& entry, uint32_t bucket,
                 std::string_view url) const;
  // For an entry of kWholePattern whose piece fits at the key's only place
  // (its window agrees with the URL's there, and pieceFits() where the
  // window does not hold the whole piece): kMatches or kFails when the
  // piece surely stands there (the rule's other tests then decide),
  // kUnsettled when the rule's own test must. Out of line: most candidates
  // never ask.
  enum class Verdict : uint8_t { kUnsettled, kMatches, kFails };
  __attribute__((noinline)) Verdict wholePatternVerdict(
      const Entry& entry, size_t place, const RequestFacts& request);
  // The bucket's one place in the URL when its key occurs once at the
  // fourth byte or later; 0 otherwise.
  uint32_t onlyPlace(uint32_t bucket) const;

  // The first rule of entries_[begin, end) that matches the request, or
  // null; bucket is the bucket of those entries. kKeyed: the entries have
  // a key (bucket is not 0), and their pieces are checked.
  template <bool kKeyed>
  const RequestFilter* tryEntries(uint32_t begin, uint32_t end, uint32_t bucket,
                                  const RequestFacts& request);
  // match() once a bucket of this request holds a rule of slot.
  const RequestFilter* matchSlot(size_t slot, const RequestFacts& request);
  // Derives the facts behind the Need bits of needs not yet in settled_,
  // adding those the request cannot satisfy to unmet_.
  // REQUIRES: needs holds kNeedsPage with a party bit and kNeedsPageKey
  // with kNeedsGate (makeEntry and build() file them so).
  void settle(uint32_t needs, const RequestFacts& request);
  // Records an occurrence of key at position when the key has a bucket;
  // beginRequest() turns most keys away by its filters before calling it.
  // m is mix(key).
  // Out of line: inline, it would take registers the scan needs.
  __attribute__((noinline)) void probeTable(uint64_t key, uint64_t m,
                                            size_t position);
  // Records an occurrence of bucket b's key at position. It calls nothing
  // but growAndRecord(), and that as its last step, so that neither it nor
  // probeTable() saves a register.
  __attribute__((noinline)) void recordOccurrence(uint32_t b, size_t position);
  // Doubles the full rooms of occurrences_ and hits_, then records.
  __attribute__((noinline, cold)) void growAndRecord(uint32_t b,
                                                     size_t position);

  std::vector<Entry> entries_;         // grouped by bucket, then slot
  std::string pieces_;                 // the key pieces of the entries
  std::vector<Bucket> buckets_;        // bucket 0 holds the untokenized rules
  std::vector<uint32_t> table_;        // open-addressed: bucket index, 0:
                                       // empty (bucket 0 has no key)
  std::vector<uint64_t> filter_;       // one bit per gram key's mix
  std::vector<uint8_t> gramFilter_;    // nonzero for a gram key's entry
  std::vector<uint64_t> tokenFilter_;  // one bit per token hash
  uint64_t tokenLengths_ = 0;  // bit l: a token key of l bytes (63: more)
  // Neither "http" nor "https" is a token key, and no gram that lies
  // within "http://" or "https://" at an even place is a gram key.
  bool schemeHoldsNoKey_ = false;
  size_t gramRules_ = 0;  // rules filed under a gram
  // The included domains of every untokenized rule that has only included
  // domains: when none occurs in a page's key, all those rules are out.
  std::vector<std::string> gateNames_;
  std::unique_ptr<DomainNameSet> gate_;
  std::vector<uint64_t> gateLeads_;  // one bit per four bytes of a name
  // Where the gated rules of slot s begin among the rules without a key.
  uint32_t gatedFrom_[kSlots] = {};
  // The Need bits that every rule of slot s before gatedFrom_[s] has.
  uint32_t keylessNeeds_[kSlots] = {};
  // Bit s: slot s has rules without a key outside the gate.
  uint32_t ungatedSlots_ = 0;
  // Places of a key tested against gateLeads_ lie this far apart; 0: a name
  // is shorter than four bytes, and no key is turned away before the search.
  uint32_t gateStride_ = 0;
  size_t tableMask_ = 0;  // table_.size() - 1
  // Scratch: this request's buckets are hits_[0, hitCount_), bucket 0
  // first; the rest is room, grown by growAndRecord() when full.
  std::vector<uint32_t> hits_;
  size_t hitCount_ = 0;
  size_t hitRoom_ = 0;  // hits_.size()
  // Scratch: the slots of bucket 0's rules, less those a closed gate
  // empties (match() passes them by), and the slots of hits_[1...], OR-ed
  // as the scan finds them.
  uint32_t hitSlots_ = 0;
  uint32_t keyedSlots_ = 0;
  // Scratch: per bucket, its last occurrence or kDenseKey; kNoOccurrence
  // for every bucket outside hits_ (beginRequest() resets only those).
  std::vector<uint32_t> lastOccurrence_;
  // Scratch: the occurrences of this request are [0, occurrenceCount_);
  // the rest is room, grown by growAndRecord() when full.
  std::vector<Occurrence> occurrences_;
  size_t occurrenceCount_ = 0;
  size_t occurrenceRoom_ = 0;   // occurrences_.size()
  uint32_t occurrenceCap_ = 0;  // scratch: places kept per key
  uint32_t unmet_ = 0;          // scratch: Need bits this request fails
  uint32_t settled_ = 0;        // scratch: Need bits decided so far
  bool wholeUrlOnly_ = false;   // scratch: URL too long for positions
  uint32_t gramsFrom_ = 0;      // scratch: the scan's first window
};

// Index key of a token; never 0 and never a gram key.
uint64_t tokenKey(std::string_view token);
// Index key of the four bytes at gram[0..3].
uint64_t gramKey(const char* gram);

// The tokens of pattern that every matching URL must contain as whole
// tokens (see above), in pattern order. Exposed for tests and tools.
std::vector<std::string_view> safeTokens(std::string_view pattern);

}  // namespace quibex

#endif  // QUIBEX_ENGINE_GENERIC_INDEX_H_
