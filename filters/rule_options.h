// The options of a request rule (what follows its last "$"): the named bits
// of the content-type mask and of the party test, the one table of
// option names, and the splitter that cuts an options text into options.
// The parser and the list linter both read options through these, so they
// cannot disagree about which options exist.
#ifndef QUIBEX_FILTERS_RULE_OPTIONS_H_
#define QUIBEX_FILTERS_RULE_OPTIONS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

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

// A request's content type is known only from the end of its URL: the
// first suffix of this table that the URL ends with gives its type bit, and
// a URL that ends with none has no type at all.
struct UrlSuffixType {
  std::string_view suffix;  // compared with the URL's last bytes, exactly
  uint32_t type;            // the content-type bit it gives
};
inline constexpr UrlSuffixType kUrlSuffixTypes[] = {
    {".js", kTypeScript}, {".css", kTypeStylesheet}, {".swf", kTypeObject},
    {".jpg", kTypeImage}, {".jpeg", kTypeImage},     {".png", kTypeImage},
    {".gif", kTypeImage}, {".ico", kTypeImage},      {".bmp", kTypeImage},
};

// The type bits of kUrlSuffixTypes OR-ed together.
constexpr uint32_t satisfiableTypesOf(const UrlSuffixType* table, size_t size) {
  uint32_t types = 0;
  for (size_t i = 0; i < size; ++i) types |= table[i].type;
  return types;
}

// The only content-type bits the matcher can ever satisfy.
inline constexpr uint32_t kSatisfiableTypes = satisfiableTypesOf(
    kUrlSuffixTypes, sizeof kUrlSuffixTypes / sizeof kUrlSuffixTypes[0]);

// Party bits of RequestFilter::thirdParty(): which forms of the
// "third-party" option a rule carries. A rule with neither has no party
// test; a rule with either is tried only for requests that have a page, and
// then passes a request whose own party bit (partyOf()) it carries.
inline constexpr uint32_t kThirdParty = 0x1;  // "third-party"
inline constexpr uint32_t kFirstParty = 0x2;  // "~third-party"
inline constexpr uint32_t kEitherParty = kThirdParty | kFirstParty;

// The party bit a request satisfies.
constexpr uint32_t partyOf(bool firstParty) {
  return firstParty ? kFirstParty : kThirdParty;
}

// What an option sets in a filter.
enum class OptionKind : uint8_t {
  kType,      // ORs its bit into the type mask, the complement when negated
  kParty,     // ORs kThirdParty into the party bits, kFirstParty if negated
  kElemHide,  // sets the elemhide flag; negation is ignored
  kDomain,    // the page domains that follow "domain" and one character
};

// One option the engine knows.
struct RuleOption {
  std::string_view name;  // as written after an optional "~"
  OptionKind kind;        // what it sets
  uint32_t bit;           // its type bit (kType only; 0 for the others)
};

// Every option the engine knows, in the order the parser compares them.
// All names are compared exactly, except "domain", which matches every
// option that begins with it and so stands last.
inline constexpr RuleOption kRuleOptions[] = {
    {"script", OptionKind::kType, kTypeScript},
    {"image", OptionKind::kType, kTypeImage},
    {"stylesheet", OptionKind::kType, kTypeStylesheet},
    {"object", OptionKind::kType, kTypeObject},
    {"xmlhttprequest", OptionKind::kType, kTypeXmlHttpRequest},
    {"object-subrequest", OptionKind::kType, kTypeObjectSubrequest},
    {"subdocument", OptionKind::kType, kTypeSubdocument},
    {"document", OptionKind::kType, kTypeDocument},
    {"elemhide", OptionKind::kElemHide, 0},
    {"third-party", OptionKind::kParty, 0},
    {"other", OptionKind::kType, kTypeOther},
    {"domain", OptionKind::kDomain, 0},
};

// The entry of kRuleOptions that option (written without its "~") stands
// for, or null for an option the engine ignores. The returned pointer
// stays valid for the life of the program.
constexpr const RuleOption* findRuleOption(std::string_view option) {
  for (const RuleOption& known : kRuleOptions) {
    if (known.kind == OptionKind::kDomain
            ? option.substr(0, known.name.size()) == known.name
            : option == known.name) {
      return &known;
    }
  }
  return nullptr;
}

// Where the options of a request rule line begin: the position of its
// last "$", or npos when it has none.
inline size_t findOptionsDollar(std::string_view line) {
  // Most lines have no "$": one memchr tells, where a byte-wise search back
  // from the end would read the whole line. Otherwise the search back stops
  // at the last "$", which lies no earlier than the first.
  if (line.empty() || std::memchr(line.data(), '$', line.size()) == nullptr) {
    return std::string_view::npos;
  }
  return line.rfind('$');
}

// Calls f(option, negated) for each comma-separated option of options (the
// text after the options "$"), in order: option without a leading "~",
// negated telling whether it had one. An empty option between two commas
// is passed on; a comma at the very end ends the text and adds none.
template <class F>
void forEachOption(std::string_view options, F&& f) {
  size_t start = 0;
  while (start < options.size()) {
    size_t comma = options.find(',', start);
    if (comma == std::string_view::npos) comma = options.size();
    std::string_view option = options.substr(start, comma - start);
    const bool negated = !option.empty() && option[0] == '~';
    if (negated) option.remove_prefix(1);
    f(option, negated);
    start = comma + 1;
  }
}

}  // namespace quibex

#endif  // QUIBEX_FILTERS_RULE_OPTIONS_H_
