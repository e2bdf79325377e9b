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
  std::string name;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    const bool last = i + 1 == value.size();
    if (c != '|' || last) name.push_back(c);
    if (c == '|' || last) {
      if (!name.empty() && name[0] == '~') {
        lists->exclude.emplace_back(name, 1);
      } else {
        lists->include.push_back(name);
      }
      name.clear();
    }
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

std::string RequestFilter::text() const {
  const bool lead = flags_ & kLeadStar;
  const bool trail = flags_ & kTrailStar;
  const char* p = chars();
  std::string out;
  out.reserve(textLen_);
  out.append(p, prefixLen_);
  p += prefixLen_ + (lead ? 1 : 0);
  out.append(p, bodyLen_);
  p += bodyLen_ + (trail ? 1 : 0);
  out.append(p, textLen_ - prefixLen_ - bodyLen_);
  return out;
}

const std::vector<std::string>& RequestFilter::includeDomains() const {
  return domains_ ? domains_->include : emptyList();
}

const std::vector<std::string>& RequestFilter::excludeDomains() const {
  return domains_ ? domains_->exclude : emptyList();
}

// Each of the hundred thousand filters of a real list costs this much
// before its text: 22 bytes of lengths, offsets, masks and flags, padded to
// the alignment of the domain-list pointer, then the pointer. 32 bytes with
// 8-byte pointers, 28 with 4-byte ones (armeabi-v7a, x86).
static_assert(sizeof(RequestFilter) == (sizeof(void*) == 8 ? 32 : 28),
              "RequestFilter grew");

RequestFilter* parseRequestFilterInto(std::string_view line,
                                      void* (*allocate)(size_t, void*),
                                      void* context) {
  if (line.size() > kMaxRuleLineBytes) return nullptr;
  if (startsWith(line, "!")) return nullptr;  // comment

  size_t pos = 0;
  bool exception = false;
  if (startsWith(line, "@@")) {
    exception = true;
    pos += 2;
  }
  if (startsWith(line.substr(pos), "||")) pos += 2;
  bool leadStar = true;
  if (startsWith(line.substr(pos), "|")) {
    leadStar = false;
    pos += 1;
  }

  // Options follow the last "$"; the prefix removed so far holds none.
  ParsedOptions options;
  size_t bodyEnd = line.size();
  const size_t dollar = findOptionsDollar(line);
  if (dollar != std::string_view::npos) {
    forEachOption(line.substr(dollar + 1),
                  [&options](std::string_view option, bool negated) {
                    applyOption(option, negated, &options);
                  });
    bodyEnd = dollar;
  }
  std::string_view body = line.substr(pos, bodyEnd - pos);
  bool trailStar = true;
  if (!body.empty() && body.back() == '|') {
    trailStar = false;
    body.remove_suffix(1);
  }

  // One allocation holds the object and [prefix][*?][body][*?][suffix].
  const size_t storeLen = line.size() + (leadStar ? 1 : 0) + (trailStar ? 1 : 0);
  void* memory = allocate(sizeof(RequestFilter) + storeLen, context);
  RequestFilter* filter = new (memory) RequestFilter();
  char* out = filter->chars();
  std::memcpy(out, line.data(), pos);
  out += pos;
  if (leadStar) *out++ = '*';
  std::memcpy(out, body.data(), body.size());
  out += body.size();
  if (trailStar) *out++ = '*';
  const size_t suffixStart = pos + body.size();
  std::memcpy(out, line.data() + suffixStart, line.size() - suffixStart);

  filter->textLen_ = static_cast<uint32_t>(line.size());
  filter->bodyLen_ = static_cast<uint32_t>(body.size());
  filter->prefixLen_ = static_cast<uint8_t>(pos);
  filter->flags_ = static_cast<uint8_t>(
      (exception ? RequestFilter::kException : 0) |
      (options.elemHide ? RequestFilter::kElemHide : 0) |
      (leadStar ? RequestFilter::kLeadStar : 0) |
      (trailStar ? RequestFilter::kTrailStar : 0) | options.thirdParty);
  filter->typeMask_ = options.typeMask;
  if (options.domains) {
    if (options.domains->include.empty() && options.domains->exclude.empty()) {
      options.domains.reset();  // "domain" without names: no domain test
    } else {
      options.domains->seal();
    }
  }
  filter->domains_ = std::move(options.domains);

  const std::string_view pattern = filter->pattern();
  const std::string_view key = domainKeyView(pattern);
  if (!key.empty()) {
    filter->keyOffset_ = static_cast<uint32_t>(key.data() - pattern.data());
    filter->keyLen_ = static_cast<uint32_t>(key.size());
  }
  return filter;
}

std::unique_ptr<RequestFilter> parseRequestFilter(std::string_view line) {
  return std::unique_ptr<RequestFilter>(parseRequestFilterInto(
      line, [](size_t bytes, void*) { return ::operator new(bytes); },
      nullptr));
}

RequestFilter* parseRequestFilter(std::string_view line, RuleArena& arena) {
  return parseRequestFilterInto(
      line,
      [](size_t bytes, void* context) {
        return static_cast<RuleArena*>(context)->allocate(bytes);
      },
      &arena);
}

std::string_view domainKeyView(std::string_view text) {
  if (text.empty()) return {};
  const size_t start = skipSchemeAndStars(text);
  const char* bytes = text.data();

  size_t end = start;
  const void* slash = std::memchr(bytes + start, '/', text.size() - start);
  if (slash != nullptr) {
    end = static_cast<size_t>(static_cast<const char*>(slash) - bytes);
  } else {
    end = text.size();
    if (isWildcard(bytes[end - 1])) {
      --end;
      if (end > 0 && isWildcard(bytes[end - 1])) --end;
    }
    if (end < start) end = start;
  }

  // After a wildcard the key starts over behind the next dot.
  size_t keyStart = start;
  bool afterWildcard = false;
  bool dotInKey = false;  // a dot at or after keyStart
  for (size_t i = start; i < end; ++i) {
    const char c = bytes[i];
    if (c == '.') {
      if (afterWildcard) {
        keyStart = i + 1;
        afterWildcard = false;
      } else {
        dotInKey = true;
      }
    } else if (isWildcard(c)) {
      keyStart = i + 1;
      afterWildcard = true;
      dotInKey = false;
    }
  }
  if (!dotInKey || keyStart >= end || bytes[keyStart] == '.' ||
      bytes[end - 1] == '.') {
    return {};
  }
  return text.substr(keyStart, end - keyStart);
}

}  // namespace quibex
