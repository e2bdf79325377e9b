// Parsing of request rule lines into RequestFilter, and the domain key.
#include "filters/request_filter.h"

#include <cstring>
#include <new>

#include "filters/rule_arena.h"
#include "filters/rule_options.h"
#include "filters/text_util.h"

namespace quibex {
namespace {

const std::vector<std::string>& emptyList() {
  static const std::vector<std::string> kEmpty;
  return kEmpty;
}

// Splits the value of a "domain" option on "|". The last character always
// belongs to the last name, even when it is a "|".
void parseDomainList(std::string_view value, DomainLists* lists) {
  size_t start = 0;
  while (start < value.size()) {
    size_t bar = value.find('|', start);
    if (bar == std::string_view::npos || bar + 1 == value.size()) {
      bar = value.size();
    }
    const std::string_view name = value.substr(start, bar - start);
    if (!name.empty() && name[0] == '~') {
      lists->exclude.emplace_back(name.substr(1));
    } else {
      lists->include.emplace_back(name);
    }
    start = bar + 1;
  }
}

// The option fields a parse collects before the filter is allocated.
struct ParsedOptions {
  uint32_t typeMask = 0;
  uint32_t thirdParty = 0;  // party bits
  bool elemHide = false;
  std::unique_ptr<DomainLists> domains;
};

void applyOption(std::string_view option, bool negated, ParsedOptions* out) {
  const RuleOption* known = findRuleOption(option);
  if (known == nullptr) return;  // unknown options are ignored
  switch (known->kind) {
    case OptionKind::kType:
      out->typeMask |= negated ? ~known->bit : known->bit;
      break;
    case OptionKind::kParty:
      out->thirdParty |= negated ? kFirstParty : kThirdParty;
      break;
    case OptionKind::kElemHide:
      out->elemHide = true;
      break;
    case OptionKind::kDomain:
      // The name and the character after it are dropped unchecked.
      if (!out->domains) out->domains = std::make_unique<DomainLists>();
      if (option.size() > known->name.size() + 1) {
        parseDomainList(option.substr(known->name.size() + 1),
                        out->domains.get());
      }
      break;
  }
}

}  // namespace

RequestFilter::~RequestFilter() {
  if (flags_ & kHasOptions) {
    const_cast<Options&>(options()).~Options();
  }
}

std::string RequestFilter::text() const {
  const std::string_view stored = pattern();
  std::string out;
  out.reserve(textSize());
  if (flags_ & kException) out.append("@@");
  if (flags_ & kDoublePipe) out.append("||");
  if (!(flags_ & kLeadStar)) out.push_back('|');
  out.append(stored.data() + ((flags_ & kLeadStar) ? 1 : 0), bodyLen());
  if (!(flags_ & kTrailStar)) out.push_back('|');
  out.append(stored.data() + stored.size(), suffixLen());
  return out;
}

const std::vector<std::string>& RequestFilter::includeDomains() const {
  const DomainLists* lists = domains();
  return lists ? lists->include : emptyList();
}

const std::vector<std::string>& RequestFilter::excludeDomains() const {
  const DomainLists* lists = domains();
  return lists ? lists->exclude : emptyList();
}

// Each of the hundred thousand filters of a real list costs this much
// before its text, on 64- and 32-bit targets alike: the body's 16-bit
// length, 8 flag bits and the key's 8-bit offset, 2-byte aligned. A rule
// that is not a bare host rule adds a 4-byte Sizes block; the few with a
// type, elemhide or domain option an Options block as well (16 bytes with
// 8-byte pointers, 12 with 4-byte ones).
static_assert(sizeof(RequestFilter) == 4 && alignof(RequestFilter) == 2,
              "RequestFilter grew");

// A rule line cut into what its filter keeps.
struct RequestFilter::LineParts {
  uint8_t flags = kLeadStar | kTrailStar;  // Flag bits
  std::string_view body;    // between the prefix and the options' "$"
  std::string_view suffix;  // from the options' "$" to the end
  ParsedOptions options;    // what the options say
};

inline void RequestFilter::cutLine(std::string_view line, LineParts* parts) {
  uint8_t& flags = parts->flags;
  size_t pos = 0;
  if (startsWith(line, "@@")) {
    flags |= kException;
    pos += 2;
  }
  if (startsWith(line.substr(pos), "||")) {
    flags |= kDoublePipe;
    pos += 2;
  }
  if (startsWith(line.substr(pos), "|")) {
    flags &= ~kLeadStar;
    pos += 1;
  }

  // Options follow the last "$"; the prefix removed so far holds none.
  ParsedOptions& options = parts->options;
  size_t bodyEnd = line.size();
  const size_t dollar = findOptionsDollar(line);
  if (dollar != std::string_view::npos) {
    forEachOption(line.substr(dollar + 1),
                  [&options](std::string_view option, bool negated) {
                    applyOption(option, negated, &options);
                  });
    bodyEnd = dollar;
  }
  parts->body = line.substr(pos, bodyEnd - pos);
  if (!parts->body.empty() && parts->body.back() == '|') {
    flags &= ~kTrailStar;
    parts->body.remove_suffix(1);
  }
  parts->suffix = line.substr(bodyEnd);
  flags |= static_cast<uint8_t>(options.thirdParty);
  if (options.domains) {
    if (options.domains->include.empty() && options.domains->exclude.empty()) {
      options.domains.reset();  // "domain" without names: no domain test
    } else {
      options.domains->seal();
    }
  }
}

inline RequestFilter* RequestFilter::layOut(
    LineParts* parts, void* (*allocate)(size_t, size_t, void*), void* context) {
  const std::string_view body = parts->body;
  const std::string_view suffix = parts->suffix;
  ParsedOptions& options = parts->options;
  uint8_t flags = parts->flags;
  const bool hasOptions =
      options.typeMask != 0 || options.elemHide || options.domains;
  const bool wide = body.size() >= kWide || suffix.size() > UINT16_MAX;
  // A bare host rule such as "||host^" or "@@||host^" has no suffix, and its
  // pattern closes with "^*" right after the key: with no "/" in the body
  // the key can end nowhere else (or there is none, checked below).
  const bool bare = !hasOptions && !wide && suffix.empty() &&
                    (flags & kTrailStar) && !body.empty() &&
                    body.back() == '^' &&
                    std::memchr(body.data(), '/', body.size()) == nullptr;
  if (!bare) flags |= kHasSizes;
  if (hasOptions) flags |= kHasOptions;

  // One allocation holds the record, its blocks and
  // [*?][body][*?][suffix]; nothing below can fail. Each block starts
  // where the one before it ends, aligned as it needs.
  static_assert(sizeof(Sizes) == 4, "Sizes grew");
  static_assert(
      (sizeof(RequestFilter) + sizeof(Sizes)) % alignof(Options) == 0 &&
          sizeof(RequestFilter) % alignof(Sizes) == 0 &&
          sizeof(Options) % alignof(WideSizes) == 0 &&
          (sizeof(RequestFilter) + sizeof(Sizes)) % alignof(WideSizes) == 0,
      "a block after the record would be misaligned");
  const uint16_t bodyLen = wide ? kWide : static_cast<uint16_t>(body.size());
  const bool leadStar = flags & kLeadStar;
  const bool trailStar = flags & kTrailStar;
  const size_t offset = charsOffset(flags, bodyLen);
  const size_t patternLen =
      body.size() + (leadStar ? 1 : 0) + (trailStar ? 1 : 0);
  size_t alignment = alignof(RequestFilter);
  if (wide) alignment = alignof(WideSizes);
  if (hasOptions) alignment = alignof(Options);
  void* memory =
      allocate(offset + patternLen + suffix.size(), alignment, context);
  RequestFilter* filter = new (memory) RequestFilter();
  filter->flags_ = flags;
  filter->bodyLen_ = bodyLen;
  char* out = filter->chars();
  if (leadStar) *out++ = '*';
  std::memcpy(out, body.data(), body.size());
  out += body.size();
  if (trailStar) *out++ = '*';
  if (!suffix.empty()) std::memcpy(out, suffix.data(), suffix.size());

  char* const base = reinterpret_cast<char*>(filter);
  if (!bare) {
    Sizes* sizes = new (base + sizeof(RequestFilter)) Sizes();
    sizes->suffix = wide ? 0 : static_cast<uint16_t>(suffix.size());
  }
  if (hasOptions) {
    Options* block =
        new (base + sizeof(RequestFilter) + sizeof(Sizes)) Options();
    block->domains = std::move(options.domains);
    block->typeMask = options.typeMask;
    block->elemHide = options.elemHide;
  }
  if (wide) {
    new (base + offset - sizeof(WideSizes))
        WideSizes{static_cast<uint32_t>(body.size()),
                  static_cast<uint32_t>(suffix.size())};
  }
  return filter;
}

inline void RequestFilter::storeDomainKey() {
  const std::string_view stored = pattern();
  // A bare host rule has no Sizes block: its key must end right before
  // the pattern's closing "^*". Its body holds no "/", so neither does
  // the pattern.
  const bool bare = !(flags_ & kHasSizes);
  const std::string_view key = bare ? quibex::slashlessDomainKeyView(stored)
                                    : quibex::domainKeyView(stored);
  const size_t keyOffset =
      key.empty() ? 0 : static_cast<size_t>(key.data() - stored.data());
  const bool fits = bare ? !key.empty() && keyOffset < kKeyNotStored &&
                               keyOffset + key.size() + 2 == stored.size()
                         : key.empty() || (keyOffset < kKeyNotStored &&
                                           key.size() <= UINT16_MAX);
  if (!fits) {
    keyOffset_ = kKeyNotStored;
  } else if (!key.empty()) {
    keyOffset_ = static_cast<uint8_t>(keyOffset);
    if (!bare) {
      reinterpret_cast<Sizes*>(reinterpret_cast<char*>(this) +
                               sizeof(RequestFilter))
          ->keyLen = static_cast<uint16_t>(key.size());
    }
  }
}

inline RequestFilter* RequestFilter::layOutPlainBareHostRule(
    std::string_view line, void* (*allocate)(size_t, size_t, void*),
    void* context) {
  // The prefix as cutLine() reads it.
  const size_t size = line.size();
  const char* bytes = line.data();
  uint8_t flags = kLeadStar | kTrailStar;
  size_t pos = 0;
  if (size >= 2 && bytes[0] == '@' && bytes[1] == '@') {
    flags |= kException;
    pos = 2;
  }
  if (size - pos >= 2 && bytes[pos] == '|' && bytes[pos + 1] == '|') {
    flags |= kDoublePipe;
    pos += 2;
  }
  if (size - pos >= 1 && bytes[pos] == '|') {
    flags &= ~kLeadStar;
    pos += 1;
  }
  // The body is the host and a closing "^": no options, no trailing "|",
  // 16-bit sizes.
  if (size - pos < 2 || bytes[size - 1] != '^' || size - pos >= kWide) {
    return nullptr;
  }
  // The host: a "$" would start options, a "/" a path, and a wildcard
  // would move the key; a dot makes it a key. Each byte is read once, a
  // word at a time (the last word overlapping the one before it).
  const char* host = bytes + pos;
  const size_t hostSize = size - pos - 1;
  bool dot = false;
  if (hostSize >= 8) {
    uint64_t dots = 0;
    for (size_t i = 0;; i += 8) {
      const bool last = hostSize - i <= 8;
      if (last) i = hostSize - 8;
      uint64_t word;
      std::memcpy(&word, host + i, 8);
      if ((holdsByte(word, '$') | holdsByte(word, '/') | holdsByte(word, '*') |
           holdsByte(word, '^')) != 0) {
        return nullptr;
      }
      dots |= holdsByte(word, '.');
      if (last) break;
    }
    dot = dots != 0;
  } else {
    for (size_t i = 0; i < hostSize; ++i) {
      const char c = host[i];
      if (c == '$' || c == '/' || isWildcard(c)) return nullptr;
      dot |= c == '.';
    }
  }

  // Laid out as layOut() lays out a bare host rule: the record, then the
  // pattern [*?][host^]*.
  const bool leadStar = flags & kLeadStar;
  const size_t bodySize = hostSize + 1;
  void* memory =
      allocate(sizeof(RequestFilter) + (leadStar ? 1 : 0) + bodySize + 1,
               alignof(RequestFilter), context);
  RequestFilter* filter = new (memory) RequestFilter();
  filter->flags_ = flags;
  filter->bodyLen_ = static_cast<uint16_t>(bodySize);
  char* out = filter->chars();
  if (leadStar) *out++ = '*';
  std::memcpy(out, host, bodySize);
  out[bodySize] = '*';
  // The key is the host whole (no scheme can stand before it without a
  // "/"), when it holds a dot and neither begins nor ends with one; a bare
  // host rule without a key is marked as one whose key is not stored.
  const bool keyed = dot && host[0] != '.' && host[hostSize - 1] != '.';
  filter->keyOffset_ = keyed ? (leadStar ? 1 : 0) : kKeyNotStored;
  return filter;
}

RequestFilter* parseRequestFilterInto(std::string_view line,
                                      void* (*allocate)(size_t, size_t, void*),
                                      void* context) {
  if (line.size() > kMaxRuleLineBytes) return nullptr;
  if (startsWith(line, "!")) return nullptr;  // comment
  if (RequestFilter* bare =
          RequestFilter::layOutPlainBareHostRule(line, allocate, context)) {
    return bare;
  }
  RequestFilter::LineParts parts;
  RequestFilter::cutLine(line, &parts);
  RequestFilter* filter = RequestFilter::layOut(&parts, allocate, context);
  filter->storeDomainKey();
  return filter;
}

std::unique_ptr<RequestFilter> parseRequestFilter(std::string_view line) {
  // operator new's storage suits every alignment the parser asks for.
  return std::unique_ptr<RequestFilter>(parseRequestFilterInto(
      line, [](size_t bytes, size_t, void*) { return ::operator new(bytes); },
      nullptr));
}

RequestFilter* parseRequestFilter(std::string_view line, RuleArena& arena) {
  return parseRequestFilterInto(
      line,
      [](size_t bytes, size_t alignment, void* context) {
        return static_cast<RuleArena*>(context)->allocate(bytes, alignment);
      },
      &arena);
}

}  // namespace quibex
