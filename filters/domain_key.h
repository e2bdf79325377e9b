// domainKeyView: the domain key of a request pattern or a page URL, under
// which request rules are filed and against which a rule's domain= names
// are tested.
#ifndef QUIBEX_FILTERS_DOMAIN_KEY_H_
#define QUIBEX_FILTERS_DOMAIN_KEY_H_

#include <string>
#include <string_view>

namespace quibex {

// The domain key of a text (a pattern, or a page URL): the host-like run of
// its first path segment, cut after any wildcard at the next dot. Empty, or
// a string with a "." that neither begins nor ends with ".". The view points
// into text.
std::string_view domainKeyView(std::string_view text);
// domainKeyView(text) for a text that holds no "/", found without looking
// for one. REQUIRES: text holds no "/".
std::string_view slashlessDomainKeyView(std::string_view text);
inline std::string domainKey(std::string_view text) {
  return std::string(domainKeyView(text));
}

}  // namespace quibex

#endif  // QUIBEX_FILTERS_DOMAIN_KEY_H_
