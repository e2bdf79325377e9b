// Token and gram index over the generic sequences; see generic_index.h.
#include "engine/generic_index.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/byte_hash.h"
#include "filters/vector_scan.h"
#include "filters/request_facts.h"
#include "filters/request_filter.h"
#include "filters/rule_options.h"
#include "filters/text_util.h"
#include "filters/wildcard.h"

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

// The window of an entry (generic_index.h): the four bytes before place
// and the four at after, in one word; where the URL ends less than four
// bytes after after, the bytes past its end read as 0 (a window that holds
// a literal byte there fails unless that byte is 0; a pass only lets the
// rule's own test decide). The entry's window is read the same way from
// its own bytes, so both agree on any byte order.
// REQUIRES: place - 4 to after lie in the URL, which holds four bytes or
// more.
constexpr size_t kWindowSide = 4;
constexpr size_t kWindowBytes = 2 * kWindowSide;
inline uint64_t windowAt(const char* url, size_t size, size_t place,
                         size_t after) {
  uint32_t before;
  uint32_t next;
  std::memcpy(&before, url + place - kWindowSide, kWindowSide);
  const size_t from = std::min(after, size - kWindowSide);
  std::memcpy(&next, url + from, kWindowSide);
  const unsigned cut = static_cast<unsigned>(8 * (after - from));
  const uint64_t rest = kLittleEndian ? uint64_t{next} >> cut
                                      : (uint64_t{next} << cut) & UINT32_MAX;
  return before | rest << 32;
}

// The bits of the window's bytes an entry's reach covers: the last ahead
// bytes before the place and the first behind bytes after the key, indexed
// by ahead | behind << kAfterShift.
constexpr unsigned kAfterShift = 3;
constexpr std::array<uint64_t, 64> kWindowMasks = [] {
  std::array<uint64_t, 64> masks{};
  // The shift of the window's byte i (0 to 7, as laid out in memory).
  const auto shiftOf = [](size_t i) {
    const size_t half = i / kWindowSide * 32;
    const size_t inHalf = i % kWindowSide;
    return half + 8 * (kLittleEndian ? inHalf : kWindowSide - 1 - inHalf);
  };
  for (size_t ahead = 0; ahead <= kWindowSide; ++ahead) {
    for (size_t behind = 0; behind <= kWindowSide; ++behind) {
      uint64_t mask = 0;
      for (size_t k = 0; k < ahead; ++k) {
        mask |= uint64_t{0xff} << shiftOf(kWindowSide - 1 - k);
      }
      for (size_t k = 0; k < behind; ++k) {
        mask |= uint64_t{0xff} << shiftOf(kWindowSide + k);
      }
      masks[ahead | behind << kAfterShift] = mask;
    }
  }
  return masks;
}();

constexpr uint64_t kGramFlag = uint64_t{1} << 63;
constexpr size_t kGramBytes = 4;
// The URL scan probes the grams at every kGramStride-th byte only. A stride
// of 4 scans half the windows of 2 but files each rule under four grams,
// two of them often common ones, and measured more instructions per
// decision on short and long URLs alike.
constexpr size_t kGramStride = 2;
// The scan's first window after a scheme it passes over (beginRequest()):
// the windows before it lie in "http://" or "https://".
constexpr size_t kHttpWindows = 4;
constexpr size_t kHttpsWindows = 6;

// Tokens and grams nearly every URL carries: a rule filed under one of them
// would be a candidate for almost every request. The query keys are those
// that long URLs carry most (campaign tags, referrers, cache busters, the
// ids of an ad client or tag): a rule filed under one of them would be a
// candidate for most URLs with a query string.
constexpr std::string_view kCommonTokens[] = {
    // schemes, hosts and paths
    "http", "https", "www", "com", "net", "org", "co", "uk", "de", "cdn",
    "static", "api", "assets", "content", "index", "wp",
    // file names
    "js", "min", "html", "htm", "php", "css", "jpg", "png", "gif", "img", "v1",
    "v2",
    // query keys
    "id", "url", "ref", "client", "tag", "sid", "pid", "cid", "uid", "cb", "ts",
    "utm", "source", "medium", "campaign", "lang", "type", "ver"};

// The grams that hold two bytes of "://" count as common too (see
// holdsSchemeSeparator()).
constexpr std::string_view kCommonGrams[] = {
    "http", "ttp:", "ttps", "tps:", "/www", "www.", ".com",
    "com/", ".net", ".org", ".htm", "html", ".php", "/wp-",
    "wp-c", "/js/", ".js?", "/img", "/api", "cdn.", "/v1/"};

// A token shared by at most this many rules is taken even when a span is
// shared by fewer. Measured in instructions per decision on the real lists:
// 8 costs the same as 32 on short URLs and 7 % less on URLs with long query
// strings, whose tokens meet more of the rules filed under shared tokens;
// 128 costs more on both, and 4 or 16 no less.
constexpr uint32_t kGoodTokenScore = 8;
constexpr uint32_t kCommonPenalty = 1u << 20;
constexpr uint32_t kShortTokenPenalty = 64;
constexpr unsigned kFilterBitsLog = 16;
// The gram filter's one-byte entries (gramEntry()), and the bits of
// filter_, which sees only the windows that pass the gram filter (about one
// in thirteen) and turns away those that are no key. Measured in
// instructions per decision: 2^15 entries cost 5 % less than 2^14 on long
// URLs and 2 % more than 2^16, whose 64 KiB the heap would have to pay for;
// filter_ at 2^15 bits costs as much as at 2^16.
constexpr unsigned kGramFilterLog = 15;
constexpr unsigned kGramKeyBitsLog = 15;
constexpr size_t kGateLeadBytes = 4;
constexpr unsigned kGateLeadBitsLog = 15;
constexpr size_t kMaxGateStride = 4;
constexpr size_t kGateLeadBits = size_t{1} << kGateLeadBitsLog;

// The gate's bit for the four bytes at p.
inline size_t gateLeadBit(const char* p) {
  uint32_t bytes;
  std::memcpy(&bytes, p, kGateLeadBytes);
  return static_cast<uint32_t>(bytes * 0x9E3779B1u) >> (32 - kGateLeadBitsLog);
}

// The gram filter entry of four URL bytes. Every other window of a URL is
// tested, so this must be cheap and almost always say no: one byte of a
// filter that holds only the grams, independent of the 64-bit hash behind
// filter_ (a byte, not a bit: a window's test is one load and compare). In
// the vector scan the entry comes from 16-bit arithmetic on the gram's two
// halves, as the scan computes it for eight windows at once: x = lo * A ^
// hi, and the entry is the top of the two halves of x * B folded together.
// Elsewhere it is the top of a 32-bit multiplicative hash.
#if defined(QUIBEX_VECTOR_SCAN)
constexpr uint16_t kGramLaneA = 0x9E37;
constexpr uint16_t kGramLaneB = 0x85EB;
constexpr unsigned kGramLaneShift = 16 - kGramFilterLog;
inline size_t gramEntry(uint32_t gram) {
  const uint32_t x =
      static_cast<uint16_t>((gram & 0xffff) * kGramLaneA) ^ (gram >> 16);
  const uint32_t product = x * kGramLaneB;
  return static_cast<uint16_t>((product >> 16) ^ product) >> kGramLaneShift;
}
// Stores gramEntry() of the eight windows at p, p + 2, ..., p + 14 in
// entries[0..7]. REQUIRES: p[0..17] is readable.
inline void gramEntries8(const char* p, uint16_t* entries) {
#if defined(__SSE2__)
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
  const __m128i x = _mm_xor_si128(
      _mm_mullo_epi16(lo, _mm_set1_epi16(static_cast<short>(kGramLaneA))), hi);
  const __m128i b = _mm_set1_epi16(static_cast<short>(kGramLaneB));
  const __m128i folded =
      _mm_xor_si128(_mm_mulhi_epu16(x, b), _mm_mullo_epi16(x, b));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(entries),
                   _mm_srli_epi16(folded, kGramLaneShift));
#else
  // NEON has no high-half multiply: the 32-bit products of the low and
  // high four lanes, their halves taken apart.
  const uint8_t* const u = reinterpret_cast<const uint8_t*>(p);
  const uint16x8_t lo = vreinterpretq_u16_u8(vld1q_u8(u));
  const uint16x8_t hi = vreinterpretq_u16_u8(vld1q_u8(u + 2));
  const uint16x8_t x = veorq_u16(vmulq_n_u16(lo, kGramLaneA), hi);
  const uint16x8_t b = vdupq_n_u16(kGramLaneB);
  const uint16x8_t low4 =
      vreinterpretq_u16_u32(vmull_u16(vget_low_u16(x), vget_low_u16(b)));
  const uint16x8_t high4 = vreinterpretq_u16_u32(vmull_high_u16(x, b));
  const uint16x8_t folded =
      veorq_u16(vuzp1q_u16(low4, high4), vuzp2q_u16(low4, high4));
  vst1q_u16(entries, vshrq_n_u16(folded, kGramLaneShift));
#endif
}
#else
inline size_t gramEntry(uint32_t gram) {
  return static_cast<uint32_t>(gram * 0x9E3779B1u) >> (32 - kGramFilterLog);
}
#endif

inline uint64_t mix(uint64_t key) { return key * kHashMultiplier; }

// The home slot of a key in the bucket table, m = mix(key). The low bits of
// a product depend only on the low bits of the key (for a gram, its first
// bytes), so the slot is taken from the middle of the product, where every
// byte of a gram and most bits of a token key have a say.
inline size_t tableSlot(uint64_t m, size_t mask) { return (m >> 32) & mask; }

#if defined(QUIBEX_VECTOR_SCAN)
// In the vector scan, the URL's bytes are classified sixteen or 64 at a
// time, and a token's hash takes its bytes eight at a time, the last word
// masked to the token's length: h = ((h ^ word) * K), its high half folded
// into the low one between words. A token of up to eight bytes is one
// word, and the product of a nonzero word with an odd K is distinct for
// distinct words, so short tokens never share a hash. The URL scan finds a
// token's edges first and then hashes it, whatever its length, for a few
// instructions. The hash's high bits, which every byte has a say in, pick
// the token's filter bit; only a token that passes the filter pays for its
// key, the hash's high half folded into the low one. The same hash files
// the rules' tokens at build time (tokenHash()).
constexpr uint64_t kTokenMultiplier = 0xff51afd7ed558ccdull;
// The low len bytes of a little-endian word, for len = 0..8.
constexpr uint64_t kLowBytes[9] = {0,
                                   0xffull,
                                   0xffffull,
                                   0xffffffull,
                                   0xffffffffull,
                                   0xffffffffffull,
                                   0xffffffffffffull,
                                   0xffffffffffffffull,
                                   ~uint64_t{0}};
// The words of a token's hash before its last: folds into *h every eight
// bytes at *p while more than eight remain, advancing *p and lowering *len.
inline void hashWholeWords(uint64_t* h, const char** p, size_t* len) {
  for (; *len > 8; *p += 8, *len -= 8) {
    uint64_t word;
    std::memcpy(&word, *p, 8);
    *h = (*h ^ word) * kTokenMultiplier;
    *h ^= *h >> 32;
  }
}
// The hash of the len bytes at p (len >= 1), each word one load: the
// last one reads up to seven bytes past the token.
// REQUIRES: p[0..len+6] is readable.
inline uint64_t tokenHashWide(const char* p, size_t len) {
  uint64_t h = 0;
  hashWholeWords(&h, &p, &len);
  uint64_t last;
  std::memcpy(&last, p, 8);
  return (h ^ (last & kLowBytes[len])) * kTokenMultiplier;
}
// The same hash for a token that ends near the end of the URL: its last
// word is the one load of the eight bytes that end with the token, shifted
// down to the token's bytes. REQUIRES: p[len-8..len-1] is readable.
inline uint64_t tokenHashBack(const char* p, size_t len) {
  uint64_t h = 0;
  hashWholeWords(&h, &p, &len);
  uint64_t last;
  std::memcpy(&last, p + len - 8, 8);
  return (h ^ (last >> (64 - 8 * len))) * kTokenMultiplier;
}
// The same hash, reading no byte past the token: its last word is built
// byte by byte (whatever the byte order, as a little-endian load would).
uint64_t tokenHashNarrow(const char* p, size_t len) {
  uint64_t h = 0;
  hashWholeWords(&h, &p, &len);
  uint64_t last = 0;
  for (size_t i = 0; i < len; ++i) {
    last |= uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
  }
  return (h ^ last) * kTokenMultiplier;
}
inline uint64_t tokenHash(std::string_view token) {
  return tokenHashNarrow(token.data(), token.size());
}
inline size_t tokenBit(uint64_t h) { return h >> (64 - kFilterBitsLog); }

// Bit i: p[i] is a token byte, for the sixteen bytes at p (tokenByteMask16)
// or the 64 (tokenByteMask64). A byte is a digit when (c - '0') mod 256 <
// 10 and a letter when ((c | 0x20) - 'a') mod 256 < 26.
#if defined(__SSE2__)
// 0xff in each token byte of v.
inline __m128i tokenBytes(__m128i v) {
  // SSE2 compares signed bytes: the unsigned compares are signed ones on
  // values offset by 0x80.
  const __m128i digit = _mm_cmplt_epi8(
      _mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(0x80 - '0'))),
      _mm_set1_epi8(static_cast<char>(0x80 + 10)));
  const __m128i letter =
      _mm_cmplt_epi8(_mm_add_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)),
                                  _mm_set1_epi8(static_cast<char>(0x80 - 'a'))),
                     _mm_set1_epi8(static_cast<char>(0x80 + 26)));
  return _mm_or_si128(digit, letter);
}
inline uint32_t tokenByteMask16(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<uint32_t>(_mm_movemask_epi8(tokenBytes(v)));
}
inline uint64_t tokenByteMask64(const char* p) {
  return uint64_t{tokenByteMask16(p)} |
         uint64_t{tokenByteMask16(p + 16)} << 16 |
         uint64_t{tokenByteMask16(p + 32)} << 32 |
         uint64_t{tokenByteMask16(p + 48)} << 48;
}
// Bit i: p[i] is "%", for the sixteen bytes at p.
inline uint32_t percentMask16(const char* p) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('%'))));
}
// tokenByteMask64(), and in *percent the bits of the "%" bytes, from the
// same loads.
inline uint64_t tokenAndPercentMask64(const char* p, uint64_t* percent) {
  uint64_t tokens = 0;
  uint64_t percents = 0;
  for (unsigned i = 0; i < 64; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    tokens |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(tokenBytes(v)))}
              << i;
    percents |= uint64_t{static_cast<uint32_t>(
                    _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('%'))))}
                << i;
  }
  *percent = percents;
  return tokens;
}
#else
// NEON has no byte mask move: each matching byte keeps its own bit of its
// eight bytes' mask, the others 0, and pairwise additions sum each eight
// bytes' bits into one byte.
inline uint8x16_t bitsOfMatches(uint8x16_t matches) {
  static constexpr uint8_t kBitOfByte[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                             1, 2, 4, 8, 16, 32, 64, 128};
  return vandq_u8(matches, vld1q_u8(kBitOfByte));
}
// The sixteen bits of one vector of bitsOfMatches().
inline uint32_t foldBits16(uint8x16_t bits) {
  bits = vpaddq_u8(bits, bits);
  bits = vpaddq_u8(bits, bits);
  bits = vpaddq_u8(bits, bits);
  return vgetq_lane_u16(vreinterpretq_u16_u8(bits), 0);
}
// The 64 bits of four consecutive vectors of bitsOfMatches().
inline uint64_t foldBits64(uint8x16_t b0, uint8x16_t b1, uint8x16_t b2,
                           uint8x16_t b3) {
  uint8x16_t bits = vpaddq_u8(vpaddq_u8(b0, b1), vpaddq_u8(b2, b3));
  bits = vpaddq_u8(bits, bits);
  return vgetq_lane_u64(vreinterpretq_u64_u8(bits), 0);
}
inline uint8x16_t tokenByteBits(const char* p) {
  const uint8x16_t v = vld1q_u8(reinterpret_cast<const uint8_t*>(p));
  const uint8x16_t digit =
      vcltq_u8(vsubq_u8(v, vdupq_n_u8('0')), vdupq_n_u8(10));
  const uint8x16_t letter = vcltq_u8(
      vsubq_u8(vorrq_u8(v, vdupq_n_u8(0x20)), vdupq_n_u8('a')), vdupq_n_u8(26));
  return bitsOfMatches(vorrq_u8(digit, letter));
}
inline uint8x16_t percentBits(const char* p) {
  const uint8x16_t v = vld1q_u8(reinterpret_cast<const uint8_t*>(p));
  return bitsOfMatches(vceqq_u8(v, vdupq_n_u8('%')));
}
inline uint32_t tokenByteMask16(const char* p) {
  return foldBits16(tokenByteBits(p));
}
inline uint64_t tokenByteMask64(const char* p) {
  return foldBits64(tokenByteBits(p), tokenByteBits(p + 16),
                    tokenByteBits(p + 32), tokenByteBits(p + 48));
}
inline uint32_t percentMask16(const char* p) {
  return foldBits16(percentBits(p));
}
inline uint64_t percentMask64(const char* p) {
  return foldBits64(percentBits(p), percentBits(p + 16), percentBits(p + 32),
                    percentBits(p + 48));
}
inline uint64_t tokenAndPercentMask64(const char* p, uint64_t* percent) {
  *percent = percentMask64(p);
  return tokenByteMask64(p);
}
#endif

// Bit i: inBlock16's bit for p[i] (or isByte(p[i])), for i < count < 64,
// sixteen bytes at a time. The bytes from p - front to p + count are
// readable (front: how many precede p): the last bytes are read from the
// sixteen that end with them where that many are readable.
template <typename Mask16, typename IsByte>
inline uint64_t shortBlockMask(const char* p, size_t count, size_t front,
                               Mask16 inBlock16, IsByte isByte) {
  uint64_t mask = 0;
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    mask |= uint64_t{inBlock16(p + i)} << i;
  }
  if (i < count && count + front >= 16) {
    const size_t rest = count - i;
    mask |= uint64_t{inBlock16(p + count - 16) >> (16 - rest)} << i;
    return mask;
  }
  for (; i < count; ++i) {
    mask |= uint64_t{isByte(p[i])} << i;
  }
  return mask;
}
// Bit i: p[i] is a token byte, for i < count <= 64 (front as above).
inline uint64_t tokenByteMask(const char* p, size_t count, size_t front) {
  if (count == 64) return tokenByteMask64(p);
  return shortBlockMask(
      p, count, front, [](const char* q) { return tokenByteMask16(q); },
      [](char c) { return isTokenByte(c); });
}
// Bit i: p[i] is "%", for i < count < 64, as tokenByteMask() reads them.
inline uint64_t percentMask(const char* p, size_t count, size_t front) {
  return shortBlockMask(
      p, count, front, [](const char* q) { return percentMask16(q); },
      [](char c) { return c == '%'; });
}
#else
// A token's hash is built byte by byte, so the URL scan has it as soon as
// it has found the token's end: one xor and one multiply per byte (the
// 64-bit FNV-1a step). Its low bits, which every byte of the token has a
// say in, pick the token's filter bit; only a token that passes the filter
// pays for its key, the hash's high half folded into the low one.
constexpr uint64_t kTokenSeed = 0xcbf29ce484222325ull;
inline uint64_t tokenStep(uint64_t h, char c) {
  return (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
}
inline uint64_t tokenHash(std::string_view token) {
  uint64_t h = kTokenSeed;
  for (const char c : token) h = tokenStep(h, c);
  return h;
}
inline size_t tokenBit(uint64_t h) { return h & ((1u << kFilterBitsLog) - 1); }
#endif
inline uint64_t tokenFinish(uint64_t h) {
  h = (h ^ (h >> 32)) & ~kGramFlag;
  return h == 0 ? 1 : h;
}

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
    const bool leftBounded = start == 0 || pattern[start - 1] != '*';
    const bool rightBounded = i == n || pattern[i] != '*';
    if (leftBounded && rightBounded) f(pattern.substr(start, i - start));
  }
}

// Calls f(gramPointer) for every four literal bytes of pattern, that is
// every window that holds neither "*" nor "^".
template <class F>
void forEachGram(std::string_view pattern, F&& f) {
  size_t run = 0;  // literal bytes ending at i
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    run = (c == '*' || c == '^') ? 0 : run + 1;
    if (run >= kGramBytes) f(pattern.data() + i + 1 - kGramBytes);
  }
}

// Counts how many rules use each key (open addressing, no deletes; grows
// to stay at most half full whatever the number of keys).
class KeyCounts {
 public:
  KeyCounts() : slots_(1024, Slot{0, 0}) {}
  void add(uint64_t key) {
    Slot& s = slot(key);
    if (s.key == 0) {
      s.key = key;
      if (++used_ * 2 > slots_.size()) grow();
      ++slot(key).count;
      return;
    }
    ++s.count;
  }
  uint32_t count(uint64_t key) const { return slot(key).count; }

 private:
  struct Slot {
    uint64_t key;    // 0 = empty
    uint32_t count;  // rules that use the key
  };
  // The key's slot, or the empty slot where it would go.
  Slot& slot(uint64_t key) {
    return const_cast<Slot&>(static_cast<const KeyCounts*>(this)->slot(key));
  }
  const Slot& slot(uint64_t key) const {
    const size_t mask = slots_.size() - 1;
    for (size_t i = mix(key) >> 40 & mask;; i = (i + 1) & mask) {
      if (slots_[i].key == key || slots_[i].key == 0) return slots_[i];
    }
  }
  void grow() {
    std::vector<Slot> old(slots_.size() * 2, Slot{0, 0});
    old.swap(slots_);
    for (const Slot& s : old) {
      if (s.key != 0) slot(s.key) = s;
    }
  }
  std::vector<Slot> slots_;
  size_t used_ = 0;  // occupied slots
};

bool isCommonKey(uint64_t key) {
  static const std::vector<uint64_t> common = [] {
    std::vector<uint64_t> keys;
    for (std::string_view token : kCommonTokens)
      keys.push_back(tokenKey(token));
    for (std::string_view gram : kCommonGrams)
      keys.push_back(gramKey(gram.data()));
    std::sort(keys.begin(), keys.end());
    return keys;
  }();
  return std::binary_search(common.begin(), common.end(), key);
}

// Whether the four bytes at g hold two bytes of the "://" that follows
// every URL's scheme: such a gram tells at most two bytes of the host, and
// most URLs whose host begins with those bytes carry it.
bool holdsSchemeSeparator(const char* g) {
  for (size_t i = 0; i + 1 < kGramBytes; ++i) {
    if (g[i + 1] == '/' && (g[i] == ':' || g[i] == '/')) return true;
  }
  return false;
}

// The distinct keys (tokens and grams) of one pattern.
void collectKeys(std::string_view pattern, std::vector<uint64_t>* keys) {
  keys->clear();
  forEachSafeToken(pattern,
                   [&](std::string_view t) { keys->push_back(tokenKey(t)); });
  forEachGram(pattern, [&](const char* g) { keys->push_back(gramKey(g)); });
  std::sort(keys->begin(), keys->end());
  keys->erase(std::unique(keys->begin(), keys->end()), keys->end());
}

// The key a rule is filed under and where it stands in the pattern: a
// token, the kGramStride grams of a gram span (offset: the first gram's),
// or none.
struct KeyChoice {
  enum Kind { kNone, kToken, kGrams } kind;
  uint64_t key;  // the token's key
  size_t offset;
  size_t length;  // the token's length
};

KeyChoice chooseKey(std::string_view pattern, const KeyCounts& counts) {
  KeyChoice token{KeyChoice::kNone, 0, 0, 0};
  uint32_t tokenScore = UINT32_MAX;
  forEachSafeToken(pattern, [&](std::string_view t) {
    // A URL's tokens right after a "%" (its escapes) are never looked up.
    if (t.data() != pattern.data() && t.data()[-1] == '%') return;
    const uint64_t key = tokenKey(t);
    uint32_t score = counts.count(key);
    if (isCommonKey(key)) score += kCommonPenalty;
    if (t.size() <= 2) score += kShortTokenPenalty;
    if (score < tokenScore ||
        (score == tokenScore && t.size() > token.length)) {
      token =
          KeyChoice{KeyChoice::kToken, key,
                    static_cast<size_t>(t.data() - pattern.data()), t.size()};
      tokenScore = score;
    }
  });
  if (token.kind != KeyChoice::kNone && tokenScore <= kGoodTokenScore) {
    return token;
  }
  // A span's grams are each probed at half the places a token or every
  // window would be, so the span scores their mean. Each gram is scored
  // once: a span is a gram and the one before it.
  static_assert(kGramStride == 2, "a span is two grams");
  KeyChoice grams{KeyChoice::kNone, 0, 0, 0};
  uint32_t gramScore = UINT32_MAX;
  const char* previous = nullptr;  // the gram before, if literal
  uint32_t previousScore = 0;
  forEachGram(pattern, [&](const char* g) {
    const uint64_t key = gramKey(g);
    uint32_t score = counts.count(key);
    if (isCommonKey(key) || holdsSchemeSeparator(g)) score += kCommonPenalty;
    if (previous == g - 1) {
      const uint32_t spanScore = (previousScore + score + 1) / 2;
      if (spanScore < gramScore) {
        grams = KeyChoice{KeyChoice::kGrams, 0,
                          static_cast<size_t>(previous - pattern.data()), 0};
        gramScore = spanScore;
      }
    }
    previous = g;
    previousScore = score;
  });
  // A span is taken over a token only below half the token's score: its
  // two grams' buckets are shared with the other spans that hold them.
  // Measured on the real lists, half costs fewer instructions per decision
  // than the whole score or a quarter.
  if (grams.kind != KeyChoice::kNone && uint64_t{gramScore} * 2 < tokenScore) {
    return grams;
  }
  return token;
}

}  // namespace

GenericIndex::Entry GenericIndex::makeEntry(const RequestFilter* filter,
                                            size_t keyOffset,
                                            size_t keyLength) {
  uint8_t needs = 0;
  const uint32_t party = filter->thirdParty();
  if (party != 0) {
    needs |= kNeedsPage;
    if (party != kEitherParty) needs |= static_cast<uint8_t>(party);
  }
  if (!filter->includeDomains().empty() || !filter->excludeDomains().empty()) {
    needs |= kNeedsPageKey;
  }
  // Only the types a URL's suffix gives can be met; a mask without any of
  // them keeps kHasTypes, which no request meets.
  static_assert(kSatisfiableTypes < kHasTypes, "the types fit below the flag");
  const uint32_t typeMask = filter->typeMask();
  const uint8_t types =
      typeMask == 0
          ? 0
          : static_cast<uint8_t>((typeMask & kSatisfiableTypes) | kHasTypes);
  Entry entry{filter, {0, 0}, 0, 0, 0, 0, types, needs, 0};
  if (keyLength == 0 || keyLength > kMaxPieceBytes) return entry;
  // The piece: the run between the stars around the key, cut to what the
  // entry's sizes hold.
  const std::string_view pattern = filter->pattern();
  const size_t before = pattern.rfind('*', keyOffset);
  size_t start = before == std::string_view::npos ? 0 : before + 1;
  size_t end = pattern.find('*', keyOffset + keyLength);
  if (end == std::string_view::npos) end = pattern.size();
  if (end - start > kMaxPieceBytes) {
    const size_t spare = kMaxPieceBytes - keyLength;
    start = keyOffset - std::min(keyOffset - start, spare / 2);
    end = std::min(end, keyOffset + keyLength + (spare - (keyOffset - start)));
  }
  const char* const piece = pattern.data() + start;
  const size_t pieceSize = end - start;
  entry.piece = static_cast<uint32_t>(pieces_.size());
  entry.pieceSize = static_cast<uint16_t>(pieceSize);
  entry.lead = static_cast<uint16_t>(keyOffset - start);
  entry.keyEnd = static_cast<uint16_t>(keyOffset + keyLength - start);
  pieces_.append(piece, pieceSize);
  // The window: the literal bytes next to the key, up to the first "^" or
  // the piece's end on each side.
  char bytes[kWindowBytes] = {};
  const size_t aheadMost = std::min<size_t>(kWindowSide, entry.lead);
  size_t ahead = 0;
  for (; ahead < aheadMost && piece[entry.lead - 1 - ahead] != '^'; ++ahead) {
    bytes[kWindowSide - 1 - ahead] = piece[entry.lead - 1 - ahead];
  }
  const char* const next = piece + entry.keyEnd;
  const size_t behindMost =
      std::min<size_t>(kWindowSide, pieceSize - entry.keyEnd);
  size_t behind = 0;
  for (; behind < behindMost && next[behind] != '^'; ++behind) {
    bytes[kWindowSide + behind] = next[behind];
  }
  const uint64_t window =
      windowAt(bytes, kWindowBytes, kWindowSide, kWindowSide);
  std::memcpy(entry.window, &window, sizeof window);
  entry.reach = static_cast<uint8_t>(ahead | behind << kAfterShift);
  if (ahead == entry.lead && entry.keyEnd + behind == pieceSize) {
    entry.reach |= kWholePiece;
  }
  if (start == 1 && end + 1 == pattern.size() && pattern[0] == '*' &&
      pattern[end] == '*') {
    entry.reach |= kWholePattern;
  }
  return entry;
}

namespace {

// Whether piece fits anywhere in url. Out of line: pieceFits() calls it
// only last.
__attribute__((noinline)) bool pieceOccurs(std::string_view url,
                                           std::string_view piece) {
  return findPiece(url, 0, piece) != std::string_view::npos;
}

}  // namespace

bool GenericIndex::pieceFits(const Entry& entry, uint32_t bucket,
                             std::string_view url) const {
  const std::string_view piece(pieces_.data() + entry.piece, entry.pieceSize);
  // Trying the piece at each occurrence costs up to its length each time;
  // once that has cost as much as the URL is long, one search of the whole
  // URL decides instead, in time linear in its length.
  // That search is the only call, and the last step: the tries at the
  // occurrences call nothing.
  const uint32_t head = lastOccurrence_[bucket];
  if (head == kDenseKey) return pieceOccurs(url, piece);
  size_t budget = url.size();
  for (uint32_t o = head; o != kNoOccurrence; o = occurrences_[o].next) {
    if (budget < entry.pieceSize) return pieceOccurs(url, piece);
    budget -= entry.pieceSize;
    const uint32_t position = occurrences_[o].position;
    if (position < entry.lead) continue;
    // The key stands at position (its bucket's key occurs there; a token
    // whose hash only collides with it is left to the rule's own match), so
    // only the bytes of the piece before and after it are compared. Before
    // it every byte of the piece takes one byte of the URL.
    const size_t after = position + (entry.keyEnd - entry.lead);
    if (after > url.size()) continue;
    // The byte after the key first: it turns most places away.
    if (entry.keyEnd < entry.pieceSize) {
      const char next = piece[entry.keyEnd];
      if (next != '^' && (after == url.size() || url[after] != next)) continue;
    }
    const char* const at = url.data() + (position - entry.lead);
    uint32_t j = 0;
    while (j < entry.lead &&
           (piece[j] == '^' ? isSeparator(static_cast<unsigned char>(at[j]))
                            : at[j] == piece[j])) {
      ++j;
    }
    if (j == entry.lead &&
        matchPieceAt(url, after,
                     std::string_view(piece.data() + entry.keyEnd,
                                      entry.pieceSize - entry.keyEnd)) !=
            std::string_view::npos) {
      return true;
    }
  }
  return false;
}

uint64_t tokenKey(std::string_view token) {
  return tokenFinish(tokenHash(token));
}

uint64_t gramKey(const char* gram) {
  uint32_t bytes;
  std::memcpy(&bytes, gram, kGramBytes);
  return kGramFlag | bytes;
}

std::vector<std::string_view> safeTokens(std::string_view pattern) {
  std::vector<std::string_view> tokens;
  forEachSafeToken(pattern, [&](std::string_view t) { tokens.push_back(t); });
  return tokens;
}

void GenericIndex::clear() {
  entries_.clear();
  pieces_.clear();
  buckets_.clear();
  table_.clear();
  filter_.clear();
  tokenFilter_.clear();
  tokenLengths_ = 0;
  schemeHoldsNoKey_ = false;
  gramFilter_.clear();
  gramRules_ = 0;
  gate_.reset();
  gateNames_.clear();
  gateLeads_.clear();
  hits_.clear();
  hitCount_ = 0;
  hitRoom_ = 0;
  hitSlots_ = 0;
  keyedSlots_ = 0;
  lastOccurrence_.clear();
}

using Placement = GenericIndex::Placement;

namespace {

// Step 1 of build(): how many rules each key (token or gram) is found in,
// each key counted once per rule.
void countKeys(const std::vector<const RequestFilter*>* const
                   sequences[GenericIndex::kSlots],
               KeyCounts* counts) {
  std::vector<uint64_t> keys;
  for (size_t s = 0; s < GenericIndex::kSlots; ++s) {
    for (const RequestFilter* filter : *sequences[s]) {
      collectKeys(filter->pattern(), &keys);
      for (const uint64_t key : keys) counts->add(key);
    }
  }
}

// Step 2: every rule's chosen key, sorted by key and then slot, so that
// each bucket's rules stand together, slot by slot (key 0, the rules
// without a key, first).
std::vector<Placement> placeRules(const std::vector<const RequestFilter*>* const
                                      sequences[GenericIndex::kSlots],
                                  const KeyCounts& counts) {
  size_t total = 0;
  for (size_t s = 0; s < GenericIndex::kSlots; ++s) {
    total += sequences[s]->size();
  }
  std::vector<Placement> placements;
  placements.reserve(total + total / 2);
  for (size_t s = 0; s < GenericIndex::kSlots; ++s) {
    for (const RequestFilter* filter : *sequences[s]) {
      const std::string_view pattern = filter->pattern();
      const KeyChoice choice = chooseKey(pattern, counts);
      const uint32_t slot = static_cast<uint32_t>(s);
      if (choice.kind != KeyChoice::kGrams) {
        placements.push_back(
            Placement{choice.key, slot, filter, choice.offset, choice.length});
        continue;
      }
      // Every gram of the span, each with its own place: the scan finds
      // the one that falls on a probed byte.
      for (size_t k = 0; k < kGramStride; ++k) {
        const size_t offset = choice.offset + k;
        placements.push_back(Placement{gramKey(pattern.data() + offset), slot,
                                       filter, offset, kGramBytes});
      }
    }
  }
  std::sort(placements.begin(), placements.end(),
            [](const Placement& a, const Placement& b) {
              return a.key != b.key ? a.key < b.key : a.slot < b.slot;
            });
  return placements;
}

}  // namespace

void GenericIndex::build(
    const std::vector<const RequestFilter*>* const sequences[kSlots]) {
  clear();
  KeyCounts counts;
  countKeys(sequences, &counts);
  fileBuckets(placeRules(sequences, counts));
  gateUnkeyedRules();
  fillTable();
}

void GenericIndex::fileBuckets(const std::vector<Placement>& placements) {
  // Bucket 0 holds the rules without a key (key 0 sorts first). The
  // buckets are counted first so that their array takes no spare room.
  size_t keys = 0;
  for (size_t i = 0; i < placements.size(); ++i) {
    const uint64_t key = placements[i].key;
    if (key != 0 && (i == 0 || key != placements[i - 1].key)) ++keys;
  }
  buckets_.reserve(keys + 1);
  buckets_.push_back(Bucket{0, {}, 0});
  entries_.reserve(placements.size());
  tokenFilter_.assign((size_t{1} << kFilterBitsLog) / 64, 0);
  for (size_t i = 0; i < placements.size();) {
    const uint64_t key = placements[i].key;
    if (key != 0) buckets_.push_back(Bucket{key, {}, 0});
    Bucket& bucket = buckets_.back();
    for (uint32_t s = 0; s < kSlots; ++s) {
      bucket.offsets[s] = static_cast<uint32_t>(entries_.size());
      while (i < placements.size() && placements[i].key == key &&
             placements[i].slot == s) {
        const Placement& p = placements[i];
        entries_.push_back(makeEntry(p.filter, p.keyOffset, p.keyLength));
        if (key & kGramFlag) {
          ++gramRules_;
        } else if (key != 0) {
          tokenLengths_ |= uint64_t{1} << std::min<size_t>(p.keyLength, 63);
          const size_t bit = tokenBit(
              tokenHash(p.filter->pattern().substr(p.keyOffset, p.keyLength)));
          tokenFilter_[bit / 64] |= uint64_t{1} << (bit % 64);
        }
        ++i;
      }
      if (entries_.size() != bucket.offsets[s]) bucket.slots |= 1u << s;
    }
    bucket.offsets[kSlots] = static_cast<uint32_t>(entries_.size());
  }
}

void GenericIndex::gateUnkeyedRules() {
  for (uint32_t e = 0; e < buckets_[0].offsets[kSlots]; ++e) {
    Entry& entry = entries_[e];
    const RequestFilter& rule = *entry.filter;
    if (rule.includeDomains().empty() || !rule.excludeDomains().empty()) {
      continue;
    }
    entry.needs |= kNeedsGate;
    gateNames_.insert(gateNames_.end(), rule.includeDomains().begin(),
                      rule.includeDomains().end());
  }
  // Each slot's gated rules last, so that a page that opens no gate passes
  // them over together (the order of a sequence's tries does not matter).
  for (uint32_t s = 0; s < kSlots; ++s) {
    const auto begin = entries_.begin() + buckets_[0].offsets[s];
    const auto end = entries_.begin() + buckets_[0].offsets[s + 1];
    gatedFrom_[s] = static_cast<uint32_t>(
        std::stable_partition(begin, end,
                              [](const Entry& entry) {
                                return (entry.needs & kNeedsGate) == 0;
                              }) -
        entries_.begin());
  }
  // The needs every ungated rule without a key of a slot shares: when the
  // request fails one, those rules are passed over together.
  ungatedSlots_ = 0;
  for (uint32_t s = 0; s < kSlots; ++s) {
    uint32_t common = UINT32_MAX;
    for (uint32_t e = buckets_[0].offsets[s]; e < gatedFrom_[s]; ++e) {
      common &= entries_[e].needs;
    }
    keylessNeeds_[s] = common == UINT32_MAX ? 0 : common;
    if (buckets_[0].offsets[s] != gatedFrom_[s]) ungatedSlots_ |= 1u << s;
  }
  gate_ = std::make_unique<DomainNameSet>(gateNames_);
  // The four bytes at the first gateStride_ places of every name, one bit
  // each. A name that occurs in a key covers a place that is a multiple of
  // the stride with one of those, so a key none of whose four bytes at such
  // places has its bit holds no name, which most keys show without the
  // search. The stride is the widest the shortest name allows.
  gateLeads_.assign(gateNames_.empty() ? 0 : kGateLeadBits / 64, 0);
  size_t shortest = SIZE_MAX;
  for (const std::string& name : gateNames_) {
    shortest = std::min(shortest, name.size());
  }
  gateStride_ = 0;
  if (gateNames_.empty() || shortest < kGateLeadBytes) return;
  gateStride_ = static_cast<uint32_t>(
      std::min(kMaxGateStride, shortest - kGateLeadBytes + 1));
  for (const std::string& name : gateNames_) {
    for (size_t at = 0; at < gateStride_; ++at) {
      const size_t bit = gateLeadBit(name.data() + at);
      gateLeads_[bit / 64] |= uint64_t{1} << (bit % 64);
    }
  }
}

bool GenericIndex::gateOpens(std::string_view pageKey) const {
  if (gateNames_.empty()) return false;
  if (gateStride_ != 0) {
    bool lead = false;
    for (size_t i = 0; !lead && i + kGateLeadBytes <= pageKey.size();
         i += gateStride_) {
      const size_t bit = gateLeadBit(pageKey.data() + i);
      lead = (gateLeads_[bit / 64] >> (bit % 64) & 1) != 0;
    }
    if (!lead) return false;
  }
  return gate_->anyOccursIn(pageKey);
}

void GenericIndex::fillTable() {
  size_t tableSize = 16;
  while (tableSize < buckets_.size() * 2) tableSize *= 2;
  table_.assign(tableSize, 0);
  filter_.assign((size_t{1} << kGramKeyBitsLog) / 64, 0);
  gramFilter_.assign(size_t{1} << kGramFilterLog, 0);
  const size_t mask = tableSize - 1;
  for (uint32_t b = 1; b < buckets_.size(); ++b) {
    const uint64_t m = mix(buckets_[b].key);
    size_t i = tableSlot(m, mask);
    while (table_[i] != 0) i = (i + 1) & mask;
    table_[i] = b;
    if (buckets_[b].key & kGramFlag) {
      const size_t bit = m >> (64 - kGramKeyBitsLog);
      filter_[bit / 64] |= uint64_t{1} << (bit % 64);
      gramFilter_[gramEntry(static_cast<uint32_t>(buckets_[b].key))] = 1;
    }
  }
  tableMask_ = mask;
  // The windows before kHttpWindows of "http://" and kHttpsWindows of
  // "https://".
  static_assert(kGramStride == 2, "the windows at 0, 2 and 4");
  schemeHoldsNoKey_ =
      !holdsKey(tokenKey("http")) && !holdsKey(tokenKey("https")) &&
      !holdsKey(gramKey("http")) && !holdsKey(gramKey("tp:/")) &&
      !holdsKey(gramKey("tps:")) && !holdsKey(gramKey("s://"));
  lastOccurrence_.assign(buckets_.size(), kNoOccurrence);
  // The rules without a key first: they need no occurrences.
  hits_.assign(kMinHitRoom, 0);
  hitCount_ = 1;
  hitRoom_ = hits_.size();
}

inline uint32_t GenericIndex::bucketOf(uint64_t key, uint64_t m) const {
  const uint32_t* const table = table_.data();
  for (size_t i = tableSlot(m, tableMask_);; i = (i + 1) & tableMask_) {
    const uint32_t b = table[i];
    if (b == 0 || buckets_[b].key == key) return b;
  }
}

bool GenericIndex::holdsKey(uint64_t key) const {
  return bucketOf(key, mix(key)) != 0;
}

void GenericIndex::probeTable(uint64_t key, uint64_t m, size_t position) {
  const uint32_t b = bucketOf(key, m);
  if (b != 0) return recordOccurrence(b, position);
}

void GenericIndex::recordOccurrence(uint32_t b, size_t position) {
  // Full rooms are grown first, by a call that comes back here: the rest
  // calls nothing.
  if (occurrenceCount_ == occurrenceRoom_ || hitCount_ == hitRoom_) {
    return growAndRecord(b, position);
  }
  uint32_t& head = lastOccurrence_[b];
  uint32_t count = 1;
  if (head == kNoOccurrence) {
    hits_[hitCount_++] = b;
    keyedSlots_ |= buckets_[b].slots;
  } else {
    if (head == kDenseKey) return;
    count = occurrences_[head].count + 1;
    if (count > occurrenceCap_) {
      head = kDenseKey;
      return;
    }
  }
  occurrences_[occurrenceCount_] =
      Occurrence{static_cast<uint32_t>(position), head, count};
  head = static_cast<uint32_t>(occurrenceCount_++);
}

void GenericIndex::growAndRecord(uint32_t b, size_t position) {
  if (occurrenceCount_ == occurrenceRoom_) {
    occurrences_.resize(
        std::max<size_t>(kMinOccurrenceRoom, occurrences_.size() * 2));
    occurrenceRoom_ = occurrences_.size();
  }
  if (hitCount_ == hitRoom_) {
    hits_.resize(hits_.size() * 2);
    hitRoom_ = hits_.size();
  }
  recordOccurrence(b, position);
}

void GenericIndex::beginRequest(const std::string& url) {
  hitSlots_ = 0;
  keyedSlots_ = 0;
  unmet_ = 0;
  settled_ = 0;
  if (buckets_.empty()) return;
  // Every bucket outside hits_ has no occurrence: only the last request's
  // buckets are reset, and bucket 0 stays first.
  for (size_t h = 1; h < hitCount_; ++h) {
    lastOccurrence_[hits_[h]] = kNoOccurrence;
  }
  hitCount_ = 1;
  occurrenceCount_ = 0;
  // A huge URL may have grown the scratch list; do not keep that much.
  if (occurrenceRoom_ > kKeptOccurrenceRoom) {
    std::vector<Occurrence>().swap(occurrences_);
    occurrenceRoom_ = 0;
  }
  hitSlots_ = buckets_[0].slots;
  if (buckets_.size() == 1) return;
  // Occurrences are kept as 32-bit positions; a longer URL (it cannot come
  // from Java) is matched without the piece check.
  wholeUrlOnly_ = url.size() >= kNoOccurrence;
  occurrenceCap_ = static_cast<uint32_t>(std::min<size_t>(
      kDenseKey - 1, std::max<size_t>(kMinOccurrenceCap, url.size() / 16)));
  const size_t n = url.size();
  // A URL that starts with "http://" or "https://" (nearly every one) when
  // neither scheme token nor any window within the scheme is a key: the
  // scan passes over that token and starts the windows at the first even
  // place whose window holds a byte of the host.
  const size_t scheme = schemeHoldsNoKey_ ? commonSchemeLength(url) : 0;
  // The scheme's token: "https" or "http", before its "://".
  const size_t schemeLength = scheme == 0 ? 0 : scheme - 3;
  // The URL and the filters are read through local pointers: a probe
  // writes memory, and a read through the string or a member would be
  // repeated after every probe.
  const char* const data = url.data();
  const uint64_t* const tokenFilter = tokenFilter_.data();
#if defined(QUIBEX_VECTOR_SCAN)
  const auto token = [this, tokenFilter](uint64_t h, size_t start) {
    const size_t bit = tokenBit(h);
    if ((tokenFilter[bit / 64] & (uint64_t{1} << (bit % 64))) == 0) return;
    const uint64_t key = tokenFinish(h);
    probeTable(key, mix(key), start);
  };
  // A token's hash: its last word is one load, of the eight bytes from
  // its last word's start where seven bytes follow the token, else of the
  // eight that end with it.
  const auto hashOf = [data, n](size_t start, size_t end) {
    if (kLittleEndian && end + 7 <= n) {
      return tokenHashWide(data + start, end - start);
    }
    if (kLittleEndian && end >= 8) {
      return tokenHashBack(data + start, end - start);
    }
    return tokenHashNarrow(data + start, end - start);
  };
  // The URL is classified 64 bytes at a time. In a block's mask, adding
  // its lowest set bit clears the lowest run of set bits (a token) and sets
  // the bit after it, where the token ends; the sum is 0 when the run
  // reaches the block's end, and the token goes on in the next block.
  constexpr size_t kNoToken = SIZE_MAX;
  size_t open = kNoToken;  // start of a token running past the block
  // No key has one byte in most lists: then one-byte tokens are passed
  // over without a probe.
  const bool oneByteKeys = (tokenLengths_ >> 1 & 1) != 0;
  gramsFrom_ = schemeLength == 5   ? kHttpsWindows
               : schemeLength == 4 ? kHttpWindows
                                   : 0;
  // The first block's mask leaves out the scheme's token.
  uint64_t keep = ~((uint64_t{1} << schemeLength) - 1);
  // Bit 0: the next block's first byte follows a "%", or goes on with a
  // token that does.
  uint64_t afterPercent = 0;
  for (size_t base = 0; base < n; base += 64) {
    const size_t count = std::min<size_t>(64, n - base);
    uint64_t percent = 0;
    uint64_t mask =
        (base != 0 && count == 64 ? tokenAndPercentMask64(data + base, &percent)
                                  : tokenByteMask(data + base, count, base)) &
        keep;
    keep = ~uint64_t{0};
    // Bit i of starts is a token's first byte, of after the byte right
    // after a token (bit 0 only when no token runs on from the block
    // before).
    const uint64_t before = mask << 1 | (open != kNoToken ? 1 : 0);
    uint64_t starts = mask & ~before;
    const uint64_t after = ~mask & before;
    // A token right after a "%" (as in the escapes "%2F", "%3A") is no key
    // (chooseKey() takes none that its pattern has after a "%", and a
    // match puts that byte, or a separator, before the key): past the
    // first block, where short URLs end and long query strings carry
    // their escaped values, such tokens are dropped whole, adding a
    // token's first bit to the mask clearing its run. A dropped run that
    // reaches the block's end carries into the next block.
    if (base != 0) {
      if (count != 64) percent = percentMask(data + base, count, base);
      const uint64_t dropped = starts & (percent << 1 | afterPercent);
      const uint64_t kept = mask & (mask + dropped);
      afterPercent = (percent | (mask & ~kept)) >> 63;
      mask = kept;
      starts &= ~dropped;
    }
    if (kLittleEndian) {
      // Tokens of one to three bytes (about half of a long URL's) are taken
      // apart from the mask. Their length is known, so their hash is one
      // load without finding their end. A token that runs on into the next
      // block is left to the loop below.
      const uint64_t one = starts & after >> 1;
      const uint64_t two = starts & after >> 2;
      const uint64_t three = starts & after >> 3;
      mask &= ~(one | two | two << 1 | three | three << 1 | three << 2);
      // A byte of the URL follows each of these tokens, so a load of four
      // bytes from a token of three reads at most the string's closing NUL.
      for (uint64_t at = oneByteKeys ? one : 0; at != 0; at &= at - 1) {
        const size_t start = base + static_cast<unsigned>(__builtin_ctzll(at));
        token(uint64_t{static_cast<unsigned char>(data[start])} *
                  kTokenMultiplier,
              start);
      }
      for (uint64_t at = two; at != 0; at &= at - 1) {
        const size_t start = base + static_cast<unsigned>(__builtin_ctzll(at));
        uint16_t word;
        std::memcpy(&word, data + start, 2);
        token(uint64_t{word} * kTokenMultiplier, start);
      }
      for (uint64_t at = three; at != 0; at &= at - 1) {
        const size_t start = base + static_cast<unsigned>(__builtin_ctzll(at));
        uint32_t word;
        std::memcpy(&word, data + start, 4);
        token(uint64_t{word & 0xffffffu} * kTokenMultiplier, start);
      }
    }
    if (open != kNoToken) {
      const uint64_t next = mask + 1;
      if (next == 0) continue;
      const size_t end = base + static_cast<unsigned>(__builtin_ctzll(next));
      token(hashOf(open, end), open);
      open = kNoToken;
      mask &= next;
    }
    while (mask != 0) {
      const uint64_t low = mask & (0 - mask);
      const uint64_t next = mask + low;
      const size_t start = base + static_cast<unsigned>(__builtin_ctzll(low));
      if (next == 0) {
        open = start;
        break;
      }
      const size_t end = base + static_cast<unsigned>(__builtin_ctzll(next));
      mask &= next;
      // Most tokens are eight bytes or shorter: their hash is one load, of
      // the eight bytes from the token's start, masked, where seven bytes
      // follow it, else of the eight that end with it, shifted down.
      const size_t length = end - start;
      if (kLittleEndian && length <= 8 && (end + 7 <= n || end >= 8)) {
        uint64_t word;
        if (end + 7 <= n) {
          std::memcpy(&word, data + start, 8);
          word &= kLowBytes[length];
        } else {
          std::memcpy(&word, data + end - 8, 8);
          word >>= 64 - 8 * length;
        }
        token(word * kTokenMultiplier, start);
        continue;
      }
      // A token of nine to sixteen bytes: two loads (tokenHashWide()).
      if (kLittleEndian && length <= 16 && end + 7 <= n) {
        uint64_t first;
        uint64_t second;
        std::memcpy(&first, data + start, 8);
        std::memcpy(&second, data + start + 8, 8);
        uint64_t h = first * kTokenMultiplier;
        h ^= h >> 32;
        token((h ^ (second & kLowBytes[length - 8])) * kTokenMultiplier, start);
        continue;
      }
      token(hashOf(start, end), start);
    }
  }
  if (open != kNoToken) token(hashOf(open, n), open);
#else
  for (size_t i = schemeLength; i < n;) {
    if (!isTokenByte(data[i])) {
      ++i;
      continue;
    }
    const size_t start = i;
    // A token right after a "%" is no key (as in the vector scan above).
    if (start != 0 && data[start - 1] == '%') {
      while (isTokenByte(data[i])) ++i;
      continue;
    }
    uint64_t h = kTokenSeed;
    // data[n] is the string's terminating NUL, not a token byte, so the
    // scan stops at the end without testing i < n.
    while (isTokenByte(data[i])) h = tokenStep(h, data[i++]);
    const size_t bit = tokenBit(h);
    if ((tokenFilter[bit / 64] & (uint64_t{1} << (bit % 64))) == 0) continue;
    const uint64_t key = tokenFinish(h);
    probeTable(key, mix(key), start);
  }
#endif
  if (gramRules_ == 0) return;
  const uint64_t* const filter = filter_.data();
  // Records an occurrence of a gram when it has a bucket; most grams that
  // pass the gram filter are turned away by the second one.
  const auto probe = [this, filter](uint64_t key, size_t position) {
    const uint64_t m = mix(key);
    const size_t bit = m >> (64 - kGramKeyBitsLog);
    if ((filter[bit / 64] & (uint64_t{1} << (bit % 64))) == 0) return;
    probeTable(key, m, position);
  };
  const uint8_t* const gramFilter = gramFilter_.data();
  const auto inGramFilter = [gramFilter](uint32_t gram) {
    return gramFilter[gramEntry(gram)] != 0;
  };
  // Only the windows at multiples of kGramStride are probed: a rule is
  // filed under the grams at every offset of a span (see chooseKey()), so
  // one of them falls on a probed window wherever the span stands.
  // (Read from a member: a value kept from the token scan would take a
  // register the window loop needs.)
  size_t i = gramsFrom_;
#if defined(QUIBEX_VECTOR_SCAN)
  // Eight windows a step, their filter bits computed side by side; the
  // windows left over from the eight that end the URL (at even places).
  static_assert(kGramStride == 2, "a lane holds every other window");
  const auto gramLanes = [&](size_t at, size_t firstLane) {
    alignas(16) uint16_t entries[8];
    gramEntries8(data + at, entries);
    for (size_t k = firstLane; k < 8; ++k) {
      if (gramFilter[entries[k]] == 0) continue;
      uint32_t gram;
      std::memcpy(&gram, data + at + 2 * k, kGramBytes);
      probe(kGramFlag | gram, at + 2 * k);
    }
  };
  for (; i + 18 <= n; i += 16) gramLanes(i, 0);
  if (n >= 18 && i + kGramBytes <= n) {
    const size_t last = (n - 18) & ~size_t{1};
    gramLanes(last, (i - last) / 2);
    return;
  }
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Three windows from one 8-byte load: the window at i + k is the load
  // shifted by k bytes, as a 4-byte load at i + k would read it.
  static_assert(kGramStride == 2, "the scan reads three windows per load");
  for (; i + 8 <= n; i += 6) {
    uint64_t bytes;
    std::memcpy(&bytes, data + i, 8);
    for (unsigned k = 0; k < 6; k += 2) {
      const uint32_t gram = static_cast<uint32_t>(bytes >> (8 * k));
      if (inGramFilter(gram)) probe(kGramFlag | gram, i + k);
    }
  }
#endif
  for (; i + kGramBytes <= n; i += kGramStride) {
    uint32_t gram;
    std::memcpy(&gram, data + i, kGramBytes);
    if (inGramFilter(gram)) probe(kGramFlag | gram, i);
  }
}

template <bool kKeyed>
inline const RequestFilter* GenericIndex::tryEntries(
    uint32_t begin, uint32_t end, uint32_t bucket,
    const RequestFacts& request) {
  if (begin == end) return nullptr;
  const uint32_t place = kKeyed ? onlyPlace(bucket) : 0;
  for (uint32_t e = begin; e < end; ++e) {
    const Entry& entry = entries_[e];
    // unmet_ holds only facts already derived: a rule they rule out is
    // turned away at once. The facts not yet derived (the page's key and
    // the party) cost more than the piece check, which turns most
    // candidates away, so they are derived after it.
    if (entry.needs & unmet_) continue;
    if (entry.types != 0 && (entry.types & request.urlTypes()) == 0) {
      continue;
    }
    if (kKeyed && !wholeUrlOnly_) {
      // Where the key stands once, the window turns most pieces away with
      // one comparison, and decides a piece it holds whole.
      const std::string_view url = request.url();
      if (place != 0) {
        const size_t after = place + (entry.keyEnd - entry.lead);
        uint64_t window;
        std::memcpy(&window, entry.window, sizeof window);
        if (after > url.size() ||
            (windowAt(url.data(), url.size(), place, after) &
             kWindowMasks[entry.reach & kReachMask]) != window) {
          continue;
        }
        if (!(entry.reach & kWholePiece) && !pieceFits(entry, bucket, url)) {
          continue;
        }
        if (entry.reach & kWholePattern) {
          const Verdict verdict = wholePatternVerdict(entry, place, request);
          if (verdict == Verdict::kMatches) return entry.filter;
          if (verdict == Verdict::kFails) continue;
        }
      } else if (!pieceFits(entry, bucket, url)) {
        continue;
      }
    }
    if (entry.needs & ~settled_) {
      settle(entry.needs, request);
      if (entry.needs & unmet_) continue;
    }
    if (entry.filter->matches(request)) return entry.filter;
  }
  return nullptr;
}

GenericIndex::Verdict GenericIndex::wholePatternVerdict(
    const Entry& entry, size_t place, const RequestFacts& request) {
  // The pattern is the piece between two "*": it matches when the piece
  // stands at place whole. Its bytes around the key agree with the URL's
  // (the window's are the URL's own when they all lie in it: past its end
  // the window reads 0, which a literal 0 byte would equal); the key's
  // bytes stand at place unless a token's hash only collides with the
  // key's.
  const std::string_view url = request.url();
  const size_t after = place + (entry.keyEnd - entry.lead);
  if (after + (entry.reach >> kAfterShift & 7) > url.size() ||
      std::memcmp(url.data() + place, pieces_.data() + entry.piece + entry.lead,
                  entry.keyEnd - entry.lead) != 0) {
    return Verdict::kUnsettled;
  }
  if (entry.needs & ~settled_) {
    settle(entry.needs, request);
    if (entry.needs & unmet_) return Verdict::kFails;
  }
  return entry.filter->matchesBesidesPattern(request) ? Verdict::kMatches
                                                      : Verdict::kFails;
}

inline uint32_t GenericIndex::onlyPlace(uint32_t bucket) const {
  const uint32_t head = lastOccurrence_[bucket];
  if (head >= kDenseKey) return 0;
  const Occurrence& only = occurrences_[head];
  return only.next == kNoOccurrence && only.position >= kWindowSide
             ? only.position
             : 0;
}

// Out of line, so that match() returns at once without saving the
// registers this walk uses.
const RequestFilter* GenericIndex::matchSlot(size_t slot,
                                             const RequestFacts& request) {
  // The buckets of the request's keys first (their piece checks turn most
  // candidates away before any fact is derived), then the rules without a
  // key, the gated ones last: the gate is the dearest fact, and a request
  // that another rule matches never asks for it.
  if (keyedSlots_ >> slot & 1) {
    for (size_t h = 1; h < hitCount_; ++h) {
      const uint32_t b = hits_[h];
      const Bucket& bucket = buckets_[b];
      const RequestFilter* rule = tryEntries<true>(
          bucket.offsets[slot], bucket.offsets[slot + 1], b, request);
      if (rule != nullptr) return rule;
    }
  }
  const uint32_t keyless = buckets_[0].offsets[slot];
  if (keyless != gatedFrom_[slot]) {
    const uint32_t common = keylessNeeds_[slot];
    if (common & ~settled_) settle(common, request);
    if ((common & unmet_) == 0) {
      if (const RequestFilter* rule =
              tryEntries<false>(keyless, gatedFrom_[slot], 0, request)) {
        return rule;
      }
    }
  }
  const uint32_t gatedEnd = buckets_[0].offsets[slot + 1];
  if (gatedFrom_[slot] == gatedEnd) return nullptr;
  constexpr uint32_t kGate = kNeedsPageKey | kNeedsGate;
  if ((settled_ & kGate) != kGate) {
    settle(kGate, request);
    // A closed gate leaves the later slots only the rules of the request's
    // buckets and the ungated rules without a key: a slot with neither is
    // passed by in match() without a walk.
    if (unmet_ & kGate) hitSlots_ &= ungatedSlots_;
  }
  if (unmet_ & kGate) return nullptr;
  return tryEntries<false>(gatedFrom_[slot], gatedEnd, 0, request);
}

inline void GenericIndex::settle(uint32_t needs, const RequestFacts& request) {
  needs &= ~settled_;
  settled_ |= needs;
  // Every rule that needs the party needs the page, and every gated rule a
  // page key: without those the later facts are not asked for.
  if ((needs & kNeedsPage) && request.pageUrl().empty()) unmet_ |= kNeedsPage;
  if ((needs & kNeedsPageKey) && request.pageDomainKey().empty()) {
    unmet_ |= kNeedsPageKey;
  }
  if ((needs & kNeedsParty) && !(unmet_ & kNeedsPage)) {
    // Rules that need the other party are out.
    unmet_ |= partyOf(!request.firstParty());
  }
  if ((needs & kNeedsGate) && !(unmet_ & kNeedsPageKey) &&
      !gateOpens(request.pageDomainKey())) {
    unmet_ |= kNeedsGate;
  }
}

size_t GenericIndex::memoryBytes() const {
  return entries_.capacity() * sizeof(entries_[0]) + pieces_.capacity() +
         lastOccurrence_.capacity() * sizeof(uint32_t) +
         occurrences_.capacity() * sizeof(Occurrence) +
         buckets_.capacity() * sizeof(Bucket) +
         table_.capacity() * sizeof(uint32_t) +
         filter_.capacity() * sizeof(uint64_t) +
         tokenFilter_.capacity() * sizeof(uint64_t) + gramFilter_.capacity() +
         hits_.capacity() * sizeof(uint32_t) +
         gateLeads_.capacity() * sizeof(uint64_t);
}

}  // namespace quibex
