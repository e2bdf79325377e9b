// Substring search of many page-domain names at once; see domain_name_set.h.
#include "filters/domain_name_set.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "filters/text_util.h"
#include "filters/wildcard.h"

namespace quibex {

namespace {

// One bit per first two bytes of a name: most byte pairs of a key begin no
// name, and the bit turns them away before the names' runs are searched.
constexpr unsigned kPairBitsLog = 9;

inline uint32_t pairBit(uint8_t first, uint8_t second) {
  const uint32_t pair = uint32_t{first} << 8 | second;
  return (pair * 0x9E3779B1u) >> (32 - kPairBitsLog);
}

}  // namespace

// Names of two or more bytes sorted by their first two bytes, with the
// start of each first byte's run, so that a key position looks at the
// names of its two bytes only; names shorter than two bytes apart.
struct DomainNameSet::Index {
  struct Name {
    uint8_t second;  // the name's second byte
    uint32_t index;  // position in the name list
    bool operator<(uint8_t byte) const { return second < byte; }
  };
  std::array<uint32_t, 257> firstStart{};  // runs of names by first byte
  std::vector<Name> byFirst;               // by first byte, then second byte
  // The pair bits of the names in byFirst.
  std::array<uint64_t, (size_t{1} << kPairBitsLog) / 64> pairs{};
  size_t shortest = 0;        // bytes of the shortest name in byFirst
  bool hasEmpty = false;      // an empty name: every key hits
  std::vector<char> singles;  // one-byte names
  // Names longer than kIndexedNameBytes (no host name is), each searched
  // on its own in time linear in the key: tried at every place of the key,
  // a long name would cost the key's length times its own.
  std::vector<uint32_t> longNames;
};

DomainNameSet::DomainNameSet(const std::vector<std::string>& names)
    : names_(&names) {
  if (names.size() < kIndexedFrom) return;
  auto index = std::make_unique<Index>();
  std::vector<std::pair<uint8_t, Index::Name>> longer;
  for (uint32_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    if (name.empty()) {
      index->hasEmpty = true;
    } else if (name.size() == 1) {
      index->singles.push_back(name[0]);
    } else if (name.size() > kIndexedNameBytes) {
      index->longNames.push_back(i);
    } else {
      const auto first = static_cast<uint8_t>(name[0]);
      const auto second = static_cast<uint8_t>(name[1]);
      longer.push_back({first, Index::Name{second, i}});
      const uint32_t bit = pairBit(first, second);
      index->pairs[bit / 64] |= uint64_t{1} << (bit % 64);
      if (index->shortest == 0 || name.size() < index->shortest) {
        index->shortest = name.size();
      }
    }
  }
  std::stable_sort(
      longer.begin(), longer.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first
                                  : a.second.second < b.second.second;
      });
  size_t next = 0;
  for (size_t byte = 0; byte < 256; ++byte) {
    index->firstStart[byte] = static_cast<uint32_t>(next);
    while (next < longer.size() && longer[next].first == byte) {
      index->byFirst.push_back(longer[next].second);
      ++next;
    }
  }
  index->firstStart[256] = static_cast<uint32_t>(next);
  index_ = std::move(index);
}

DomainNameSet::~DomainNameSet() = default;

bool DomainNameSet::anyOccursIn(std::string_view key) const {
  if (names_ == nullptr) return false;
  if (!index_) {
    for (const std::string& name : *names_) {
      if (findLiteral(key, 0, name) != std::string_view::npos) return true;
    }
    return false;
  }
  const Index& index = *index_;
  if (index.hasEmpty) return true;
  for (const char c : index.singles) {
    if (key.find(c) != std::string_view::npos) return true;
  }
  for (const uint32_t n : index.longNames) {
    if (findLiteral(key, 0, (*names_)[n]) != std::string_view::npos) {
      return true;
    }
  }
  if (index.byFirst.empty()) return false;
  // No name starts where fewer bytes than the shortest name remain.
  for (size_t i = 0; i + index.shortest <= key.size(); ++i) {
    const uint8_t first = static_cast<uint8_t>(key[i]);
    const uint8_t second = static_cast<uint8_t>(key[i + 1]);
    const uint32_t bit = pairBit(first, second);
    if ((index.pairs[bit / 64] >> (bit % 64) & 1) == 0) continue;
    const std::string_view rest = key.substr(i);
    const auto runEnd = index.byFirst.begin() + index.firstStart[first + 1];
    for (auto n = std::lower_bound(
             index.byFirst.begin() + index.firstStart[first], runEnd, second);
         n != runEnd && n->second == second; ++n) {
      if (startsWith(rest, (*names_)[n->index])) return true;
    }
  }
  return false;
}

}  // namespace quibex
