// Token index over the generic sequences; see generic_index.h.
#include "engine/generic_index.h"

#include <algorithm>
#include <array>

#include "filters/request_facts.h"
#include "filters/request_filter.h"

namespace quibex {
namespace {

constexpr std::array<bool, 256> makeTokenTable() {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[static_cast<size_t>(c)] = (c >= 'A' && c <= 'Z') ||
                                    (c >= 'a' && c <= 'z') ||
                                    (c >= '0' && c <= '9');
  }
  return table;
}
constexpr std::array<bool, 256> kTokenByte = makeTokenTable();

inline bool isTokenByte(char c) {
  return kTokenByte[static_cast<unsigned char>(c)];
}

// Tokens nearly every URL carries: indexing a rule under one of them would
// make it a candidate for almost every request.
constexpr std::string_view kCommonTokens[] = {
    "http", "https", "www", "com", "net", "org", "js",  "html",
    "htm",  "php",   "css", "jpg", "png", "gif", "img", "static",
    "cdn",  "api",   "min", "v1",  "id",  "co",  "uk",  "de"};

constexpr uint32_t kCommonTokenPenalty = 1u << 20;
constexpr size_t kFilterBits = size_t{1} << 16;

// Calls f(token) for every token of pattern that every matching URL must
// contain as a whole token.
template <class F>
void forEachSafeToken(std::string_view pattern, F&& f) {
  const size_t n = pattern.size();
  size_t i = 0;
  while (i < n) {
    if (!isTokenByte(pattern[i])) {
      ++i;
      continue;
    }
    const size_t start = i;
    while (i < n && isTokenByte(pattern[i])) ++i;
    const bool leftBounded = start > 0 ? pattern[start - 1] != '*' : true;
    const bool rightBounded = i < n ? pattern[i] != '*' : true;
    if (leftBounded && rightBounded) f(pattern.substr(start, i - start));
  }
}

// Counts how many rules use each token hash (open addressing, no deletes).
class TokenCounts {
 public:
  explicit TokenCounts(size_t expected) {
    size_t size = 64;
    while (size < expected * 2) size *= 2;
    slots_.assign(size, Slot{0, 0});
  }
  void add(uint64_t hash) { ++slot(hash).count; }
  uint32_t count(uint64_t hash) { return slot(hash).count; }

 private:
  struct Slot {
    uint64_t hash;   // 0 = empty
    uint32_t count;  // rules that use the token
  };
  Slot& slot(uint64_t hash) {
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      if (slots_[i].hash == hash) return slots_[i];
      if (slots_[i].hash == 0) {
        slots_[i].hash = hash;
        return slots_[i];
      }
    }
  }
  std::vector<Slot> slots_;
};

bool isCommonToken(uint64_t hash) {
  static const std::vector<uint64_t> common = [] {
    std::vector<uint64_t> hashes;
    for (std::string_view token : kCommonTokens) hashes.push_back(tokenHash(token));
    return hashes;
  }();
  return std::find(common.begin(), common.end(), hash) != common.end();
}

struct Placement {
  uint64_t hash;  // chosen token, 0 when none
  uint32_t slot;  // GenericSlot of the rule
  const RequestFilter* filter;
};

}  // namespace

uint64_t tokenHash(std::string_view token) {
  uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (const char c : token) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  h ^= h >> 29;
  return h == 0 ? 1 : h;
}

std::vector<std::string_view> safeTokens(std::string_view pattern) {
  std::vector<std::string_view> tokens;
  forEachSafeToken(pattern, [&](std::string_view t) { tokens.push_back(t); });
  return tokens;
}

void GenericIndex::clear() {
  entries_.clear();
  buckets_.clear();
  table_.clear();
  filter_.clear();
  hits_.clear();
  seen_.clear();
}

void GenericIndex::build(
    const std::vector<const RequestFilter*>* const sequences[kGenericSlots]) {
  clear();
  size_t total = 0;
  for (size_t s = 0; s < kGenericSlots; ++s) total += sequences[s]->size();

  // Count each token once per rule.
  TokenCounts counts(total * 2);
  std::vector<uint64_t> ruleTokens;
  for (size_t s = 0; s < kGenericSlots; ++s) {
    for (const RequestFilter* filter : *sequences[s]) {
      ruleTokens.clear();
      forEachSafeToken(filter->pattern(), [&](std::string_view token) {
        ruleTokens.push_back(tokenHash(token));
      });
      std::sort(ruleTokens.begin(), ruleTokens.end());
      ruleTokens.erase(std::unique(ruleTokens.begin(), ruleTokens.end()),
                       ruleTokens.end());
      for (const uint64_t hash : ruleTokens) counts.add(hash);
    }
  }

  // Place every rule under its least used token.
  std::vector<Placement> placements;
  placements.reserve(total);
  for (size_t s = 0; s < kGenericSlots; ++s) {
    for (const RequestFilter* filter : *sequences[s]) {
      uint64_t best = 0;
      uint32_t bestScore = UINT32_MAX;
      size_t bestLength = 0;
      forEachSafeToken(filter->pattern(), [&](std::string_view token) {
        const uint64_t hash = tokenHash(token);
        uint32_t score = counts.count(hash);
        if (isCommonToken(hash)) score += kCommonTokenPenalty;
        if (score < bestScore ||
            (score == bestScore && token.size() > bestLength)) {
          best = hash;
          bestScore = score;
          bestLength = token.size();
        }
      });
      placements.push_back(Placement{best, static_cast<uint32_t>(s), filter});
    }
  }
  std::stable_sort(placements.begin(), placements.end(),
                   [](const Placement& a, const Placement& b) {
                     return a.hash != b.hash ? a.hash < b.hash
                                             : a.slot < b.slot;
                   });

  // Bucket 0 holds the rules without a token (hash 0 sorts first).
  buckets_.push_back(Bucket{0, {0, 0, 0, 0, 0}});
  entries_.reserve(placements.size());
  for (size_t i = 0; i < placements.size();) {
    const uint64_t hash = placements[i].hash;
    if (hash != 0) buckets_.push_back(Bucket{hash, {}});
    Bucket& bucket = buckets_.back();
    for (uint32_t s = 0; s < kGenericSlots; ++s) {
      bucket.offsets[s] = static_cast<uint32_t>(entries_.size());
      while (i < placements.size() && placements[i].hash == hash &&
             placements[i].slot == s) {
        entries_.push_back(placements[i].filter);
        ++i;
      }
    }
    bucket.offsets[kGenericSlots] = static_cast<uint32_t>(entries_.size());
  }

  size_t tableSize = 16;
  while (tableSize < buckets_.size() * 2) tableSize *= 2;
  table_.assign(tableSize, 0);
  filter_.assign(kFilterBits / 64, 0);
  const size_t mask = tableSize - 1;
  for (uint32_t b = 1; b < buckets_.size(); ++b) {
    const uint64_t hash = buckets_[b].hash;
    size_t i = hash & mask;
    while (table_[i] != 0) i = (i + 1) & mask;
    table_[i] = b + 1;
    const size_t bit = (hash >> 20) & (kFilterBits - 1);
    filter_[bit / 64] |= uint64_t{1} << (bit % 64);
  }
  seen_.assign(buckets_.size(), 0);
  stamp_ = 0;
}

const GenericIndex::Bucket* GenericIndex::findBucket(uint64_t hash) const {
  const size_t bit = (hash >> 20) & (kFilterBits - 1);
  if ((filter_[bit / 64] & (uint64_t{1} << (bit % 64))) == 0) return nullptr;
  const size_t mask = table_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const uint32_t b = table_[i];
    if (b == 0) return nullptr;
    if (buckets_[b - 1].hash == hash) return &buckets_[b - 1];
  }
}

void GenericIndex::addHit(uint32_t bucket) {
  if (seen_[bucket] == stamp_) return;
  seen_[bucket] = stamp_;
  hits_.push_back(bucket);
}

void GenericIndex::beginRequest(std::string_view url) {
  hits_.clear();
  if (buckets_.empty()) return;
  if (++stamp_ == 0) {  // wrapped: forget every old stamp
    std::fill(seen_.begin(), seen_.end(), 0u);
    stamp_ = 1;
  }
  addHit(0);
  if (buckets_.size() == 1) return;
  const size_t n = url.size();
  size_t i = 0;
  while (i < n) {
    if (!isTokenByte(url[i])) {
      ++i;
      continue;
    }
    const size_t start = i;
    while (i < n && isTokenByte(url[i])) ++i;
    const Bucket* bucket = findBucket(tokenHash(url.substr(start, i - start)));
    if (bucket != nullptr) {
      addHit(static_cast<uint32_t>(bucket - buckets_.data()));
    }
  }
}

const RequestFilter* GenericIndex::match(GenericSlot slot,
                                         const RequestFacts& request) {
  for (const uint32_t b : hits_) {
    const Bucket& bucket = buckets_[b];
    for (uint32_t e = bucket.offsets[slot]; e < bucket.offsets[slot + 1]; ++e) {
      if (entries_[e]->matches(request)) return entries_[e];
    }
  }
  return nullptr;
}

size_t GenericIndex::untokenizedCount() const {
  return buckets_.empty() ? 0 : buckets_[0].offsets[kGenericSlots];
}

size_t GenericIndex::memoryBytes() const {
  return entries_.capacity() * sizeof(entries_[0]) +
         buckets_.capacity() * sizeof(Bucket) +
         table_.capacity() * sizeof(uint32_t) +
         filter_.capacity() * sizeof(uint64_t) +
         hits_.capacity() * sizeof(uint32_t) +
         seen_.capacity() * sizeof(uint32_t);
}

}  // namespace quibex
