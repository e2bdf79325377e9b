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

// The search by the index or name by name is weighed against an automaton
// by the bytes it could compare at worst; building the automaton costs
// about this many of them per byte of the names (about 150 instructions a
// byte, against 2 to 3 a byte for comparing a name at a place).
constexpr uint64_t kBuildWorkPerNameByte = 64;
// A key of up to kLongKey bytes goes to the automaton only when its search
// by the index could make more comparisons than this.
constexpr uint64_t kShortKeyWork = uint64_t{1} << 20;

// The automaton of a list of names (Aho-Corasick): a trie of the names
// whose every state also knows the longest proper suffix of its bytes that
// is a state too, so that one pass over a key, never going back in it,
// finds whether any name occurs. Built for one key and dropped after it.
// The first states (the shallowest, where a search spends most bytes)
// have a row of a transition table, a next state for every byte class;
// past them a search follows a state's own edges and suffixes, at most
// twice per byte of the key on average.
class NameAutomaton {
 public:
  // The table holds at most DomainNameSet::kTableCells cells and not many
  // more than keyBytes.
  NameAutomaton(const std::vector<std::string>& names, size_t keyBytes);

  bool occursIn(std::string_view key) const;

 private:
  static constexpr uint32_t kNone = UINT32_MAX;
  // A cell of table_ holds the next state's row (the state times
  // classes_), or kEdge and the next state when it has no row, or kHit.
  static constexpr uint32_t kHit = uint32_t{1} << 31;
  static constexpr uint32_t kEdge = uint32_t{1} << 30;

  struct State {
    uint32_t firstChild = 0;  // the children are consecutive states
    uint32_t fail = 0;        // longest proper suffix that is a state
    uint16_t children = 0;    // by ascending byte
    uint8_t byte = 0;         // the byte that leads here
    bool hit = false;         // a name ends here or at a suffix of it
  };

  uint32_t child(uint32_t state, uint8_t byte) const;
  uint32_t cellOf(uint32_t state) const {
    if (states_[state].hit) return kHit;
    return state < tableRows_ ? static_cast<uint32_t>(state * classes_)
                              : kEdge | state;
  }
  void buildTrie(const std::vector<std::string_view>& names);
  void linkSuffixes();
  void fillTable(size_t rows);

  // States in breadth-first order, the root first. A state where a name
  // ends has no children: a key that reaches it holds a name already.
  std::vector<State> states_;
  // 1 + the rank of each byte that leads to some state; 0 for other bytes.
  std::array<uint16_t, 256> classOf_{};
  std::array<uint32_t, 256> rootNext_{};  // the root's children; 0: none
  size_t classes_ = 1;  // byte classes, the class 0 of other bytes included
  // For each of the first tableRows_ states, a row of the next state for
  // each byte class.
  std::vector<uint32_t> table_;
  uint32_t tableRows_ = 0;
};

NameAutomaton::NameAutomaton(const std::vector<std::string>& names,
                             size_t keyBytes) {
  std::vector<std::string_view> sorted(names.begin(), names.end());
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  buildTrie(sorted);
  linkSuffixes();
  const size_t cells =
      std::min(DomainNameSet::kTableCells, 4 * keyBytes + 1024);
  fillTable(std::clamp<size_t>(cells / classes_, 1, states_.size()));
}

// Breadth first: each state's names are a run of the sorted names that
// share its bytes, and its children split the run by the next byte.
void NameAutomaton::buildTrie(const std::vector<std::string_view>& names) {
  struct Run {
    uint32_t begin, end;  // the state's names in the sorted list
    uint32_t depth;       // the bytes they share
  };
  std::vector<Run> runs;
  size_t bytes = 1;  // the states are at most the names' bytes and the root
  for (const std::string_view name : names) bytes += name.size();
  states_.reserve(bytes);
  runs.reserve(bytes);
  states_.emplace_back();
  runs.push_back(Run{0, static_cast<uint32_t>(names.size()), 0});
  std::array<bool, 256> used{};
  for (uint32_t s = 0; s < states_.size(); ++s) {
    const Run run = runs[s];
    if (run.begin == run.end) continue;  // the root of an empty list
    // Sorted, a name that ends here comes first in the run.
    if (names[run.begin].size() == run.depth) {
      states_[s].hit = true;
      continue;
    }
    states_[s].firstChild = static_cast<uint32_t>(states_.size());
    for (uint32_t i = run.begin; i < run.end;) {
      const auto byte = static_cast<uint8_t>(names[i][run.depth]);
      uint32_t j = i + 1;
      while (j < run.end && static_cast<uint8_t>(names[j][run.depth]) == byte) {
        ++j;
      }
      State next;
      next.byte = byte;
      states_.push_back(next);
      runs.push_back(Run{i, j, run.depth + 1});
      ++states_[s].children;
      used[byte] = true;
      i = j;
    }
  }
  for (size_t byte = 0; byte < 256; ++byte) {
    if (used[byte]) classOf_[byte] = static_cast<uint16_t>(classes_++);
  }
  for (uint32_t c = 1; c <= states_[0].children; ++c) {
    rootNext_[states_[c].byte] = c;
  }
}

uint32_t NameAutomaton::child(uint32_t state, uint8_t byte) const {
  if (state == 0) return rootNext_[byte] != 0 ? rootNext_[byte] : kNone;
  const State& from = states_[state];
  if (from.children <= 8) {  // most states past the first bytes have few
    for (uint32_t c = from.firstChild; c < from.firstChild + from.children;
         ++c) {
      if (states_[c].byte == byte) return c;
    }
    return kNone;
  }
  const auto first = states_.begin() + from.firstChild;
  const auto last = first + from.children;
  const auto found = std::lower_bound(
      first, last, byte,
      [](const State& s, uint8_t wanted) { return s.byte < wanted; });
  if (found == last || found->byte != byte) return kNone;
  return static_cast<uint32_t>(found - states_.begin());
}

// In breadth-first order a state's suffix is a shallower state, already
// linked: the suffix of a child is the child by the same byte of the
// parent's longest suffix that has one.
void NameAutomaton::linkSuffixes() {
  for (uint32_t s = 0; s < states_.size(); ++s) {
    const State parent = states_[s];
    for (uint32_t c = parent.firstChild;
         c < parent.firstChild + parent.children; ++c) {
      uint32_t suffix = 0;
      for (uint32_t f = parent.fail; s != 0; f = states_[f].fail) {
        const uint32_t next = child(f, states_[c].byte);
        if (next != kNone) {
          suffix = next;
          break;
        }
        if (f == 0) break;
      }
      states_[c].fail = suffix;
      states_[c].hit = states_[c].hit || states_[suffix].hit;
    }
  }
}

// A state's row is its suffix's row (a shallower state's, filled before)
// but where its own children lead.
void NameAutomaton::fillTable(size_t rows) {
  tableRows_ = static_cast<uint32_t>(rows);
  table_.assign(rows * classes_, 0);
  for (uint32_t s = 0; s < rows; ++s) {
    const State& state = states_[s];
    uint32_t* row = table_.data() + size_t{s} * classes_;
    if (s != 0) {
      const uint32_t* suffixRow = table_.data() + size_t{state.fail} * classes_;
      std::copy(suffixRow, suffixRow + classes_, row);
    }
    for (uint32_t c = state.firstChild; c < state.firstChild + state.children;
         ++c) {
      row[classOf_[states_[c].byte]] = cellOf(c);
    }
  }
}

bool NameAutomaton::occursIn(std::string_view key) const {
  if (states_[0].hit) return true;  // the empty name
  uint32_t cell = 0;                // the root's row
  for (const char c : key) {
    const auto byte = static_cast<uint8_t>(c);
    if ((cell & kEdge) == 0) {
      cell = table_[cell + classOf_[byte]];
      if (cell == kHit) return true;
      continue;
    }
    uint32_t state = cell & ~kEdge;
    uint32_t next = kNone;
    while (state >= tableRows_ && (next = child(state, byte)) == kNone) {
      state = states_[state].fail;
    }
    cell = next != kNone ? cellOf(next)
                         : table_[size_t{state} * classes_ + classOf_[byte]];
    if (cell == kHit) return true;
  }
  return false;
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
  uint32_t shortest = 0;  // bytes of the shortest name in byFirst
  // Byte comparisons per byte of a key the search could make at worst:
  // the bytes of the most names sharing their first two bytes, plus one
  // pass over the key per name in longNames.
  uint32_t workPerKeyByte = 0;
  uint32_t nameBytes = 0;  // bytes of all the names (at most UINT32_MAX)
  // Keys longer than this may be searched by the automaton.
  uint32_t automatonFrom = 0;
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
  uint64_t nameBytes = 0;
  for (uint32_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    nameBytes += name.size();
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
        index->shortest = static_cast<uint32_t>(name.size());
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
  uint64_t widestRun = 0;
  for (size_t i = 0; i < longer.size();) {
    uint64_t run = 0;
    size_t j = i;
    for (; j < longer.size() && longer[j].first == longer[i].first &&
           longer[j].second.second == longer[i].second.second;
         ++j) {
      run += names[longer[j].second.index].size();
    }
    widestRun = std::max(widestRun, run);
    i = j;
  }
  const uint64_t work = widestRun + index->longNames.size();
  index->workPerKeyByte =
      static_cast<uint32_t>(std::min<uint64_t>(work, UINT32_MAX));
  index->nameBytes =
      static_cast<uint32_t>(std::min<uint64_t>(nameBytes, UINT32_MAX));
  index->automatonFrom = static_cast<uint32_t>(std::min<uint64_t>(
      kLongKey, kShortKeyWork / std::max<uint64_t>(work, 1)));
  index_ = std::move(index);
}

DomainNameSet::~DomainNameSet() = default;

bool DomainNameSet::wantsAutomaton(std::string_view key) const {
  uint64_t workPerKeyByte = 0;
  uint64_t nameBytes = 0;
  if (index_) {
    workPerKeyByte = index_->workPerKeyByte;
    nameBytes = index_->nameBytes;
  } else {
    workPerKeyByte = names_->size();  // one pass over the key per name
    for (const std::string& name : *names_) nameBytes += name.size();
  }
  // The automaton numbers its states (at most the names' bytes) in 30 bits.
  if (nameBytes >= (uint64_t{1} << 30)) return false;
  // The automaton costs its build plus one pass over the key.
  return workPerKeyByte > 1 + kBuildWorkPerNameByte * nameBytes /
                                  std::max<size_t>(key.size(), 1);
}

bool DomainNameSet::anyOccursIn(std::string_view key) const {
  if (names_ == nullptr) return false;
  if (!index_) {
    if (key.size() > kLongKey && wantsAutomaton(key)) {
      return NameAutomaton(*names_, key.size()).occursIn(key);
    }
    for (const std::string& name : *names_) {
      if (findLiteral(key, 0, name) != std::string_view::npos) return true;
    }
    return false;
  }
  const Index& index = *index_;
  if (index.hasEmpty) return true;
  if (key.size() > index.automatonFrom && wantsAutomaton(key)) {
    return NameAutomaton(*names_, key.size()).occursIn(key);
  }
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
