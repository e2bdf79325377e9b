// The vocabulary of the engine's request containers: what a container is
// (RequestContainer), the names of the nine (DecisionStep) and the kinds of
// rule they hold. The table itself, FilterEngineImpl::kRequestContainers,
// stands beside the members it points to in filter_engine_impl.h; filing,
// the block decision, the token index, the domain table, the statistics,
// the tool's explanations and the list linter all read it.
#ifndef QUIBEX_ENGINE_REQUEST_CONTAINERS_H_
#define QUIBEX_ENGINE_REQUEST_CONTAINERS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quibex {

class DomainLane;
class FilterEngineImpl;
class RequestFilter;

// Request rules without a domain key, in filing order (not owned).
using GenericSequence = std::vector<const RequestFilter*>;

// The request containers in the order they are consulted: the eight of the
// block decision (the second list's before the first's; within a list
// exceptions before blocking rules, domain-keyed before generic), then the
// "elemhide" exceptions that only the selector query reads. A container's
// value less one is its index in FilterEngineImpl::kRequestContainers.
// Explanations name the container that decided with it.
enum class DecisionStep : uint8_t {
  kNone = 0,  // no container: nothing matched
  kExceptionsByDomain1,
  kExceptions1,
  kBlockingByDomain1,
  kBlocking1,
  kExceptionsByDomain0,
  kExceptions0,
  kBlockingByDomain0,
  kBlocking0,
  kElemHideExceptionsByDomain,  // decides no request; switches hiding off
};

inline constexpr size_t kRequestContainerCount = 9;

// The index of a container in FilterEngineImpl::kRequestContainers.
// REQUIRES: id is not kNone.
constexpr size_t containerIndex(DecisionStep id) {
  return static_cast<size_t>(id) - 1;
}

// What the rules of a container are.
enum class RuleKind : uint8_t {
  kException,  // "@@" rules: a match lets the request through
  kBlocking,   // every other rule: a match blocks it
};

// The list of a container that takes the rules of both files.
inline constexpr int kBothLists = -1;

// One request container of the engine.
struct RequestContainer {
  DecisionStep id;     // its name; equal to its place in the table
  int list;            // 1 (second file), 0 (first file) or kBothLists
  RuleKind kind;       // exceptions or blocking rules
  bool keyed;          // a DomainLane by domain key, else a GenericSequence
  bool elemHide;       // holds exceptions with the "elemhide" option only; read
                       // by the selector query, never by the block decision
  const char* member;  // the engine's name for it, e.g. "blockingByDomain1"
  DomainLane FilterEngineImpl::*map;            // keyed: the map; else null
  GenericSequence FilterEngineImpl::*sequence;  // generic: the sequence
  // A keyed container's lane in the shared domain table; a generic
  // container of the block decision's slot in the token index. Numbered by
  // withSlots().
  uint8_t slot = 0;

  // Whether the block decision consults it.
  constexpr bool decides() const { return !elemHide; }
  // The block decision's answer when a rule of this container matches.
  constexpr int answer() const { return kind == RuleKind::kBlocking ? 1 : 0; }
};

// The table with the slot of every keyed container and of every generic
// container of the block decision numbered in order.
template <size_t N>
constexpr std::array<RequestContainer, N> withSlots(
    std::array<RequestContainer, N> table) {
  uint8_t maps = 0;
  uint8_t sequences = 0;
  for (RequestContainer& container : table) {
    if (container.keyed) {
      container.slot = maps++;
    } else if (container.decides()) {
      container.slot = sequences++;
    }
  }
  return table;
}

// How many keyed containers there are.
template <size_t N>
constexpr size_t keyedContainers(const std::array<RequestContainer, N>& table) {
  size_t count = 0;
  for (const RequestContainer& container : table) count += container.keyed;
  return count;
}

// How many containers of the block decision have the given shape.
template <size_t N>
constexpr size_t decisionContainers(
    const std::array<RequestContainer, N>& table, bool keyed) {
  size_t count = 0;
  for (const RequestContainer& container : table) {
    count += container.decides() && container.keyed == keyed ? 1 : 0;
  }
  return count;
}

// The index of the container that takes a rule with these facts: the
// container of "elemhide" exceptions when the rule is one it holds, else
// the container of the rule's list, kind and shape; N when none fits.
template <size_t N>
constexpr size_t filingIndex(const std::array<RequestContainer, N>& table,
                             int list, RuleKind kind, bool keyed,
                             bool elemHide) {
  for (size_t i = 0; i < N; ++i) {
    const RequestContainer& c = table[i];
    if (c.elemHide && elemHide && c.kind == kind && c.keyed == keyed) return i;
  }
  for (size_t i = 0; i < N; ++i) {
    const RequestContainer& c = table[i];
    if (!c.elemHide && c.list == list && c.kind == kind && c.keyed == keyed) {
      return i;
    }
  }
  return N;
}

// filingIndex() for every combination of a rule's facts, at the position
// filingKey() gives them.
constexpr size_t filingKey(bool list1, bool exception, bool keyed,
                           bool elemHide) {
  return (list1 ? 1 : 0) | (exception ? 2 : 0) | (keyed ? 4 : 0) |
         (elemHide ? 8 : 0);
}
template <size_t N>
constexpr std::array<size_t, 16> filingIndexes(
    const std::array<RequestContainer, N>& table) {
  std::array<size_t, 16> indexes{};
  for (size_t key = 0; key < indexes.size(); ++key) {
    indexes[key] =
        filingIndex(table, (key & 1) ? 1 : 0,
                    (key & 2) ? RuleKind::kException : RuleKind::kBlocking,
                    (key & 4) != 0, (key & 8) != 0);
  }
  return indexes;
}

// Whether every combination of a rule's facts has a container.
template <size_t N>
constexpr bool everyRuleHasAContainer(
    const std::array<RequestContainer, N>& table) {
  for (const size_t index : filingIndexes(table)) {
    if (index >= N) return false;
  }
  return true;
}

// Whether every entry's id names its place in the table.
template <size_t N>
constexpr bool idsFollowTable(const std::array<RequestContainer, N>& table) {
  for (size_t i = 0; i < N; ++i) {
    if (containerIndex(table[i].id) != i) return false;
  }
  return true;
}

// Whether every entry's shape agrees with its members: a keyed container
// names a map and no sequence, a generic one a sequence and no map.
template <size_t N>
constexpr bool membersFollowShape(
    const std::array<RequestContainer, N>& table) {
  for (const RequestContainer& container : table) {
    const bool hasMap = container.map != nullptr;
    const bool hasSequence = container.sequence != nullptr;
    if (hasMap != container.keyed || hasSequence == container.keyed) {
      return false;
    }
  }
  return true;
}

}  // namespace quibex

#endif  // QUIBEX_ENGINE_REQUEST_CONTAINERS_H_
