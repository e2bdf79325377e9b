// Named bit constants for the options of a request rule: the content-type
// mask and the third-party word. The parser ORs these into a filter; the
// matcher tests them. Keeping them here means no magic numbers elsewhere.
#ifndef QUIBEX_FILTERS_RULE_OPTIONS_H_
#define QUIBEX_FILTERS_RULE_OPTIONS_H_

#include <cstdint>

namespace quibex {

// Content-type bits of RequestFilter::typeMask(). A negated type option ("~x")
// ORs the complement of its bit, so values only ever accumulate.
inline constexpr uint32_t kTypeScript = 0x1;
inline constexpr uint32_t kTypeImage = 0x2;
inline constexpr uint32_t kTypeStylesheet = 0x4;
inline constexpr uint32_t kTypeObject = 0x8;
inline constexpr uint32_t kTypeXmlHttpRequest = 0x10;
inline constexpr uint32_t kTypeObjectSubrequest = 0x20;
inline constexpr uint32_t kTypeSubdocument = 0x40;
inline constexpr uint32_t kTypeDocument = 0x80;
inline constexpr uint32_t kTypeOther = 0x100;

// The only content-type bits the matcher can ever satisfy (by URL suffix).
inline constexpr uint32_t kSatisfiableTypes =
    kTypeScript | kTypeImage | kTypeStylesheet | kTypeObject;

// Third-party word of RequestFilter::thirdParty().
inline constexpr uint32_t kThirdPartyNone = 0;
inline constexpr uint32_t kThirdParty = 0x1;           // "third-party"
inline constexpr uint32_t kFirstParty = ~kThirdParty;  // "~third-party"

}  // namespace quibex

#endif  // QUIBEX_FILTERS_RULE_OPTIONS_H_
