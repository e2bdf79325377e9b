// DomainNameSet: answers "does any of these names occur in this key?" for
// the page-domain lists of request rules. The domain test searches every
// listed name as a plain substring of the page's domain key; real lists
// carry rules with hundreds of names, so long lists get an index by their
// first two bytes and a key is scanned once instead of once per name; a
// bit per first two bytes turns most of the key's positions away before
// the index is searched. A key no host name is as long as (or whose
// search by the index could compare many names at each place) is searched
// instead by an automaton over all the names, built for that one question
// in memory of its own, in time linear in the key plus the names.
#ifndef QUIBEX_FILTERS_DOMAIN_NAME_SET_H_
#define QUIBEX_FILTERS_DOMAIN_NAME_SET_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quibex {

// Thread-safety: immutable after construction; const methods may run
// concurrently.
class DomainNameSet {
 public:
  // Lists up to this many names are searched name by name.
  static constexpr size_t kIndexedFrom = 9;
  // Longer names of a long list are searched name by name too.
  static constexpr size_t kIndexedNameBytes = 32;
  // Keys longer than this (no host name is) are searched by an automaton
  // when the name-by-name or index search could cost more than building it.
  static constexpr size_t kLongKey = 256;

  DomainNameSet() = default;
  // REQUIRES: names outlives the set and is not modified afterwards.
  explicit DomainNameSet(const std::vector<std::string>& names);
  ~DomainNameSet();
  DomainNameSet(const DomainNameSet&) = delete;
  DomainNameSet& operator=(const DomainNameSet&) = delete;

  // True when some name occurs in key as a contiguous run of bytes. The
  // empty name occurs in every key. A name costs at most the key's length
  // plus its own, and a name of a long list at most kIndexedNameBytes at a
  // place of the key that begins with its first two bytes; where that could
  // add up to more than an automaton over the names costs (a long key, or
  // many names sharing their first two bytes), the automaton answers, and
  // the whole search costs the key's length plus the names' bytes. Keys
  // up to kLongKey bytes that the index searches cheaply allocate nothing.
  bool anyOccursIn(std::string_view key) const;

 private:
  struct Index;  // the first-two-bytes index of a long list
  // True when the automaton costs less than the search it would replace.
  bool wantsAutomaton(std::string_view key) const;
  const std::vector<std::string>* names_ = nullptr;  // the listed names
  std::unique_ptr<const Index> index_;               // null for short lists
};

}  // namespace quibex

#endif  // QUIBEX_FILTERS_DOMAIN_NAME_SET_H_
