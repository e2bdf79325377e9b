// DomainNameSet: answers "does any of these names occur in this key?" for
// the page-domain lists of request rules. The domain test searches every
// listed name as a plain substring of the page's domain key; real lists
// carry rules with hundreds of names, so long lists get an index by their
// first two bytes and a key is scanned once instead of once per name; a
// bit per first two bytes turns most of the key's positions away before
// the index is searched.
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

  DomainNameSet() = default;
  // REQUIRES: names outlives the set and is not modified afterwards.
  explicit DomainNameSet(const std::vector<std::string>& names);
  ~DomainNameSet();
  DomainNameSet(const DomainNameSet&) = delete;
  DomainNameSet& operator=(const DomainNameSet&) = delete;

  // True when some name occurs in key as a contiguous run of bytes. The
  // empty name occurs in every key. A name costs at most the key's length
  // plus its own, and a name of a long list at most kIndexedNameBytes at a
  // place of the key that begins with its first two bytes.
  bool anyOccursIn(std::string_view key) const;

 private:
  struct Index;  // the first-two-bytes index of a long list
  const std::vector<std::string>* names_ = nullptr;  // the listed names
  std::unique_ptr<const Index> index_;               // null for short lists
};

}  // namespace quibex

#endif  // QUIBEX_FILTERS_DOMAIN_NAME_SET_H_
