// NameAutomaton: a multi-pattern automaton over a list of names, for
// DomainNameSet's search of a key that is too long, or whose names are too
// many alike, for its index: linear in the key plus the names.
#ifndef QUIBEX_FILTERS_NAME_AUTOMATON_H_
#define QUIBEX_FILTERS_NAME_AUTOMATON_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quibex {

// The automaton of a list of names (Aho-Corasick): a trie of the names
// whose every state also knows the longest proper suffix of its bytes that
// is a state too, so that one pass over a key, never going back in it,
// finds whether any name occurs. Built for one key and dropped after it.
// The first states (the shallowest, where a search spends most bytes)
// have a row of a transition table, a next state for every byte class;
// past them a search follows a state's own edges and suffixes, at most
// twice per byte of the key on average.
//
// Thread-safety: immutable after construction; const methods may run
// concurrently.
class NameAutomaton {
 public:
  // The transition table has at most this many cells (states times
  // distinct name bytes); the states past it keep their own edges.
  static constexpr size_t kTableCells = size_t{1} << 18;

  // The table holds at most kTableCells cells and not many more than
  // keyBytes. REQUIRES: the names hold fewer than 2^30 bytes in all.
  NameAutomaton(const std::vector<std::string>& names, size_t keyBytes);

  NameAutomaton(const NameAutomaton&) = delete;
  NameAutomaton& operator=(const NameAutomaton&) = delete;

  // True when some name occurs in key, in one pass over the key.
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

}  // namespace quibex

#endif  // QUIBEX_FILTERS_NAME_AUTOMATON_H_
