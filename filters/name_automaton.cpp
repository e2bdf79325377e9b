// The multi-pattern automaton over a list of names; see name_automaton.h.
#include "filters/name_automaton.h"

#include <algorithm>

namespace quibex {

NameAutomaton::NameAutomaton(const std::vector<std::string>& names,
                             size_t keyBytes) {
  std::vector<std::string_view> sorted(names.begin(), names.end());
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  buildTrie(sorted);
  linkSuffixes();
  const size_t cells = std::min(kTableCells, 4 * keyBytes + 1024);
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

}  // namespace quibex
