// The list linter; see lint.h. Each reason states what this engine (or the
// browser that gets a selector) does with the rule and why that means it
// applies everywhere, breaks element hiding, or never (or hardly ever)
// applies.
#include "tools/quibex/lint.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/filter_engine_impl.h"
#include "engine/host_candidates.h"
#include "engine/rule_file_reader.h"
#include "filters/elem_hide_filter.h"
#include "filters/request_filter.h"
#include "filters/rule_line.h"
#include "filters/rule_options.h"
#include "tools/quibex/css_selector.h"
#include "tools/quibex/output.h"
#include "tools/quibex/rule_files.h"

namespace quibex::tool {
namespace {

// The UTF-8 byte-order mark.
constexpr std::string_view kByteOrderMark = "\xef\xbb\xbf";

// text in double quotes for a reason: every byte that is not printable
// ASCII as \xNN, so a lone byte of another encoding shows as itself.
std::string shown(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Markers of element-hiding syntaxes this engine does not have.
constexpr const char* kForeignMarkers[] = {"#@?#", "#@$#", "#@%#", "#@#", "#?#",
                                           "#$#",  "#%#",  "$@$",  "$$"};

// The names of the type options behind the bits of a type mask.
std::string typeNames(uint32_t mask) {
  std::string names;
  for (const RuleOption& option : kRuleOptions) {
    if (option.kind != OptionKind::kType || (mask & option.bit) == 0) continue;
    if (!names.empty()) names += ", ";
    names += option.name;
  }
  return names;
}

// The URL suffixes that give a request a type, as a reader would list
// them: a type with one suffix shows it quoted, a type with several is named
// ("\".js\", \".css\", \".swf\" and image suffixes").
std::string typedSuffixes() {
  std::vector<std::string> shownTypes;
  uint32_t listed = 0;
  for (const UrlSuffixType& entry : kUrlSuffixTypes) {
    if ((listed & entry.type) != 0) continue;
    listed |= entry.type;
    std::string suffix;
    size_t count = 0;
    for (const UrlSuffixType& other : kUrlSuffixTypes) {
      if (other.type != entry.type) continue;
      ++count;
      suffix = other.suffix;
    }
    shownTypes.push_back(count == 1 ? "\"" + suffix + "\""
                                    : typeNames(entry.type) + " suffixes");
  }
  std::string text;
  for (size_t i = 0; i < shownTypes.size(); ++i) {
    text += (i == 0                       ? ""
             : i + 1 == shownTypes.size() ? " and "
                                          : ", ") +
            shownTypes[i];
  }
  return text;
}

// Why text can never equal a domain candidate, or "" when it can. Whether it
// can is isDomainCandidate's answer; the reasons below say which part of
// candidate formation rules it out (a run of two or more non-empty host
// labels joined by single dots, taken from the first kSplitBufferBytes
// bytes of a host that ends before the first "/" and is cut at the first
// ":").
std::string neverCandidate(std::string_view text) {
  if (isDomainCandidate(text)) return "";
  if (text.empty()) return "is empty";
  if (text.find(':') != std::string_view::npos) {
    return "contains \":\", and hosts are cut at the first \":\"";
  }
  if (text.find('/') != std::string_view::npos) {
    return "contains \"/\", which ends a host";
  }
  if (text.size() > kSplitBufferBytes) {
    return "is longer than " + std::to_string(kSplitBufferBytes) +
           " bytes, and only that much of a host is split into labels";
  }
  if (text.find('.') == std::string_view::npos) {
    return "has a single label, and candidates have two or more";
  }
  if (text.front() == '.' || text.back() == '.') {
    return "begins or ends with \".\", and candidates are labels joined by "
           "single dots";
  }
  // What is left: a label inside is empty.
  return "has an empty label (\"..\"), and candidates have none";
}

bool hostByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

// Why text would hardly be part of a real host name, or "" when it could
// be. allowPort accepts ":" (page domain keys keep a port).
std::string unlikelyHost(std::string_view text, bool allowPort) {
  bool upper = false;
  std::set<char> others;
  for (const char c : text) {
    if (c >= 'A' && c <= 'Z') {
      upper = true;
    } else if (!hostByte(c) && !(allowPort && c == ':')) {
      others.insert(c);
    }
  }
  if (others.empty()) {
    if (upper) {
      return "has upper-case letters, which host names in request URLs do "
             "not have, and hosts are compared byte for byte without case "
             "folding";
    }
    // Labels of host names neither begin nor end with "-".
    for (size_t start = 0; start <= text.size();) {
      size_t end = text.find('.', start);
      if (end == std::string_view::npos) end = text.size();
      if (end > start && (text[start] == '-' || text[end - 1] == '-')) {
        return "has a label that begins or ends with \"-\", which host "
               "names do not have";
      }
      start = end + 1;
    }
    return "";
  }
  std::string bytes;
  for (const char c : others) {
    if (!bytes.empty()) bytes += ", ";
    bytes += shown(std::string_view(&c, 1));
  }
  return "has " + bytes + (upper ? " and upper-case letters" : "") +
         ", which host names do not carry";
}

// What the engine files a request rule as.
std::string describeFiling(const RequestFilter& rule) {
  const RequestContainer& container = containerFor(rule, 0);
  const std::string kind = container.elemHide ? "an \"elemhide\" exception"
                           : container.kind == RuleKind::kException
                               ? "a request exception"
                               : "a blocking request rule";
  const std::string_view key = rule.domainKeyView();
  return kind + (container.keyed ? " filed under the domain key " + shown(key)
                                 : " without a domain key");
}

// The first marker of another rule syntax in text, or "".
std::string_view foreignMarker(std::string_view text) {
  for (const char* marker : kForeignMarkers) {
    if (text.find(marker) != std::string_view::npos) return marker;
  }
  return "";
}

// True when text, stripped of "@@" and cut before its options, looks like
// a regular expression between slashes.
bool looksLikeRegex(std::string_view text) {
  if (text.substr(0, 2) == "@@") text.remove_prefix(2);
  const auto regexBody = [](std::string_view body) {
    return body.size() >= 3 && body.front() == '/' && body.back() == '/' &&
           body.find_first_of("\\()[]{}+?") != std::string_view::npos;
  };
  const size_t dollar = text.rfind('$');
  return regexBody(text) || (dollar != std::string_view::npos &&
                             regexBody(text.substr(0, dollar)));
}

bool hasControlOrBlank(std::string_view text) {
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7f) return true;
  }
  return false;
}

// The reason for a first line that begins with the byte-order mark.
std::string byteOrderMarkReason(std::string_view line) {
  const std::string_view rest = line.substr(kByteOrderMark.size());
  if (!rest.empty() && rest.front() == '!') {
    return "the file begins with a UTF-8 byte-order mark (\\xef\\xbb\\xbf), "
           "which the engine reads as part of this line: the comment after "
           "it is filed as a rule";
  }
  return "the file begins with a UTF-8 byte-order mark (\\xef\\xbb\\xbf), "
         "which the engine reads as the first bytes of this rule";
}

// The names of the options of line that the engine ignores.
std::set<std::string> ignoredOptionNames(std::string_view line) {
  std::set<std::string> names;
  const size_t dollar = findOptionsDollar(line);
  if (dollar == std::string_view::npos) return names;
  forEachOption(line.substr(dollar + 1),
                [&names](std::string_view option, bool /*negated*/) {
                  if (option.empty() || findRuleOption(option) != nullptr)
                    return;
                  names.insert(std::string(option.substr(0, option.find('='))));
                });
  return names;
}

// "; the engine ignores its options a, b" for the unknown options of
// line, which do not narrow it here; "" when it has none.
std::string ignoredNote(std::string_view line) {
  const std::set<std::string> ignored = ignoredOptionNames(line);
  std::string names;
  for (const std::string& name : ignored) {
    names += (names.empty() ? "" : ", ") + shown(name);
  }
  if (names.empty()) return "";
  return std::string(" (the engine ignores its ") +
         (ignored.size() == 1 ? "option " : "options ") + names +
         ", which narrows it nowhere)";
}

// Collects the reasons of one rule and keeps the strongest grade.
class Verdict {
 public:
  void add(Grade grade, std::string reason) {
    grade_ = std::max(grade_, grade);
    reasons_.push_back(std::move(reason));
  }
  void never(std::string reason) { add(Grade::kNever, std::move(reason)); }
  void unlikely(std::string reason) {
    add(Grade::kUnlikely, std::move(reason));
  }
  bool empty() const { return reasons_.empty(); }
  Grade grade() const { return grade_; }
  LintFinding finding(size_t line, std::string_view text) && {
    return LintFinding{line, grade_, std::string(text), std::move(reasons_),
                       ""};
  }

 private:
  Grade grade_ = Grade::kUnlikely;
  std::vector<std::string> reasons_;
};

// True when pattern matches every address: it holds only "*" and "^", and
// a "*" comes before the first "^" (a "*" may take the whole address, and
// "^" then matches at its end).
bool matchesEverything(std::string_view pattern) {
  if (pattern.empty() ||
      pattern.find_first_not_of("*^") != std::string_view::npos) {
    return false;
  }
  const size_t caret = pattern.find('^');
  return caret == std::string_view::npos || pattern.find('*') < caret;
}

// The options of rule that narrow what it applies to, or "".
std::string narrowingOptions(const RequestFilter& rule) {
  std::vector<std::string> parts;
  const uint32_t types = rule.typeMask() & kSatisfiableTypes;
  if (rule.typeMask() != 0 && types != kSatisfiableTypes) {
    parts.push_back("requests whose URL ends like " + typeNames(types));
  }
  if (rule.thirdParty() == kThirdParty) parts.push_back("third-party requests");
  if (rule.thirdParty() == kFirstParty) parts.push_back("first-party requests");
  std::string pages;
  for (const std::string& name : rule.includeDomains()) {
    pages += (pages.empty() ? "" : ", ") + shown(name);
  }
  if (!pages.empty())
    parts.push_back("pages whose domain key contains " + pages);
  std::string excluded;
  for (const std::string& name : rule.excludeDomains()) {
    excluded += (excluded.empty() ? "" : ", ") + shown(name);
  }
  if (!excluded.empty()) {
    parts.push_back("pages whose domain key contains none of " + excluded);
  }
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
  }
  return text;
}

}  // namespace

constexpr const char* kGradeNames[] = {"unlikely", "never", "breaks",
                                       "everything"};

const char* gradeName(Grade grade) {
  return kGradeNames[static_cast<size_t>(grade)];
}

bool gradeFromName(std::string_view name, Grade* grade) {
  for (size_t i = 0; i < std::size(kGradeNames); ++i) {
    if (name == kGradeNames[i]) {
      *grade = static_cast<Grade>(i);
      return true;
    }
  }
  return false;
}

std::string FileBytes::notAList() const {
  if (nulBytes > 0) {
    return "it has " + std::to_string(nulBytes) +
           (nulBytes == 1 ? " NUL byte" : " NUL bytes") +
           ", which no text file has (the engine ends a line at one)";
  }
  // Lists in another encoding have a few such bytes; a binary file has
  // them throughout.
  if (bytes > 0 && invalidUtf8 * 10 > bytes) {
    return std::to_string(invalidUtf8 * 100 / bytes) +
           "% of its bytes are not valid UTF-8";
  }
  return "";
}

void ListLinter::addLine(size_t number, const std::string& line) {
  ++counts_.lines;
  if (number == 1 && std::string_view(line).substr(0, 3) == kByteOrderMark) {
    counts_.byteOrderMark = true;
  }
  // The pass-through decoder gives an empty line no text: it is skipped.
  if (line.empty()) {
    ++counts_.blank;
    return;
  }
  switch (routeRuleLine(line)) {
    case RuleLineKind::kComment:
      ++counts_.comments;
      return;
    case RuleLineKind::kElemHide:
      if (const std::unique_ptr<ElemHideFilter> rule =
              ElemHideFilter::fromText(line)) {
        addElemHideRule(number, line, *rule);
      } else {
        ++counts_.rejected;
        rejected_.push_back(RejectedLine{
            number, line,
            "a generic element-hiding rule (nothing before \"##\"); the "
            "engine keeps only rules that name their sites"});
      }
      return;
    case RuleLineKind::kRequest:
      if (const std::unique_ptr<RequestFilter> rule =
              parseRequestFilter(line)) {
        addRequestRule(number, line, *rule);
      } else {
        ++counts_.rejected;
        rejected_.push_back(RejectedLine{
            number, "",
            "longer than the engine's parsers accept; the engine drops it"});
      }
      return;
  }
}

void ListLinter::addOverlongLine(size_t number) {
  ++counts_.lines;
  ++counts_.rejected;
  rejected_.push_back(
      RejectedLine{number, "",
                   "longer than " + std::to_string(kMaxRuleLineRead >> 20) +
                       " MiB; the engine's file reader skips it whole"});
}

void ListLinter::addRequestRule(size_t number, const std::string& line,
                                const RequestFilter& rule) {
  const std::string_view key = rule.domainKeyView();
  ++counts_.containerRules[containerIndex(containerFor(rule, 0).id)];
  countIgnoredOptions(line);

  Verdict verdict;
  if (number == 1 && counts_.byteOrderMark) {
    verdict.unlikely(byteOrderMarkReason(line));
  }
  // Lines of other syntaxes first: what the engine makes of them explains
  // the rest.
  if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
    verdict.unlikely("a list header, which this engine reads as " +
                     describeFiling(rule));
    findings_.push_back(std::move(verdict).finding(number, line));
    return;
  }
  if (const std::string_view marker = foreignMarker(line); !marker.empty()) {
    verdict.unlikely("\"" + std::string(marker) +
                     "\" belongs to another rule syntax, which this engine "
                     "does not have; it reads the line as " +
                     describeFiling(rule));
  } else if (looksLikeRegex(line)) {
    verdict.unlikely(
        "it looks like a regular expression, which this engine does not "
        "have: the text between the slashes is matched as it stands, with "
        "\"*\" and \"^\" as the only wildcards");
  }
  if (!key.empty()) {
    if (const std::string why = neverCandidate(key); !why.empty()) {
      verdict.never("the domain key " + shown(key) + " " + why +
                    ", so no request host ever has it as a domain candidate "
                    "and the rule is never tried");
    } else if (const std::string odd = unlikelyHost(key, false); !odd.empty()) {
      verdict.unlikely("the domain key " + shown(key) + " " + odd +
                       ", so the rule is tried only for such hosts");
    }
  }
  const uint32_t mask = rule.typeMask();
  if (mask != 0 && (mask & kSatisfiableTypes) == 0) {
    verdict.never("its type options (" + typeNames(mask) +
                  ") are never satisfied: a request's type is known only "
                  "from the end of its URL (" +
                  typedSuffixes() + "), so the content-type test always fails");
  }
  for (const std::string& name : rule.excludeDomains()) {
    if (name.empty()) {
      verdict.never(
          "its \"domain\" option has an empty excluded name (a "
          "\"~\" alone), which occurs in every page's domain key, "
          "so the domain test always fails");
      break;
    }
  }
  if (rule.excludeDomains().empty() && !rule.includeDomains().empty()) {
    std::vector<std::string> odd;
    for (const std::string& name : rule.includeDomains()) {
      const std::string why = unlikelyHost(name, true);
      if (why.empty()) break;
      odd.push_back("the \"domain\" name " + shown(name) + " " + why);
    }
    if (odd.size() == rule.includeDomains().size()) {
      for (std::string& why : odd) {
        verdict.unlikely(std::move(why) +
                         ", so a page's domain key hardly contains it");
      }
    }
  }
  if (hasControlOrBlank(rule.pattern())) {
    std::string why = "its pattern " + shown(rule.pattern()) +
                      " has white space or control bytes, which request URLs "
                      "do not carry; the engine never trims a line";
    const size_t first = line.find_first_not_of(" \t");
    if (first != std::string::npos && first > 0 && line[first] == '!') {
      why += ", so the \"!\" after the blanks does not make it a comment";
    }
    verdict.unlikely(std::move(why));
  }
  // A rule that never takes effect cannot take effect everywhere either.
  if (verdict.grade() < Grade::kNever && matchesEverything(rule.pattern())) {
    const RequestContainer& container = containerFor(rule, 0);
    const std::string narrowed = narrowingOptions(rule);
    verdict.add(
        Grade::kEverything,
        "its pattern " + shown(rule.pattern()) + " matches every address, so " +
            (container.elemHide ? "it switches element hiding off for every "
                                  "document"
             : container.kind == RuleKind::kException
                 ? "it allows every request"
                 : "it blocks every request") +
            (narrowed.empty() ? std::string(", on every page")
                              : " of its scope: " + narrowed) +
            ignoredNote(line));
  }
  if (!verdict.empty()) {
    findings_.push_back(std::move(verdict).finding(number, line));
  }
}

void ListLinter::addElemHideRule(size_t number, const std::string& line,
                                 const ElemHideFilter& rule) {
  ++counts_.elemHideRules;
  Verdict verdict;
  if (number == 1 && counts_.byteOrderMark) {
    verdict.unlikely(byteOrderMarkReason(line));
  }
  bool emptyExclusion = false;
  for (size_t i = 0; i < rule.excludeCount(); ++i) {
    if (rule.excludeDomain(i).empty()) emptyExclusion = true;
  }
  if (rule.includeCount() == 0) {
    verdict.never(
        "it names no included site (only exclusions), so it is "
        "filed under no site and never returned");
  } else if (emptyExclusion) {
    verdict.never(
        "it has an empty excluded entry (a \"~\" alone), which "
        "occurs in every host, so its domain test always fails");
  } else {
    std::vector<std::string> never;
    std::vector<std::string> unlikely;
    for (size_t i = 0; i < rule.includeCount(); ++i) {
      const std::string_view site = rule.includeDomain(i);
      if (const std::string why = neverCandidate(site); !why.empty()) {
        never.push_back("the site " + shown(site) + " " + why +
                        ", so no page host has it as a domain candidate");
        continue;
      }
      std::string_view shadow;
      bool shadowed = false;
      for (size_t j = 0; j < rule.excludeCount() && !shadowed; ++j) {
        shadow = rule.excludeDomain(j);
        shadowed = site.find(shadow) != std::string_view::npos;
      }
      if (shadowed) {
        unlikely.push_back(
            "the excluded entry " + shown(shadow) + " occurs in the site " +
            shown(site) +
            ", so every page host with that candidate is excluded (short of "
            "hosts with empty labels)");
      } else if (const std::string odd = unlikelyHost(site, false);
                 !odd.empty()) {
        unlikely.push_back("the site " + shown(site) + " " + odd);
      } else {
        // One usable site is enough for the rule to take effect.
        never.clear();
        unlikely.clear();
        break;
      }
    }
    for (std::string& why : never) verdict.never(std::move(why));
    for (std::string& why : unlikely) verdict.unlikely(std::move(why));
  }
  // "site#@##selector" and the like: a foreign marker ends right before
  // the "##" that made the engine read it as element hiding.
  const std::string_view sites =
      std::string_view(line).substr(0, line.find("##"));
  if (const size_t hash = sites.find('#'); hash != std::string_view::npos) {
    verdict.unlikely(
        "\"" + std::string(sites.substr(hash)) +
        "#\" belongs to another rule syntax, which this engine does not "
        "have; it reads the line as an element-hiding rule for " +
        shown(sites) + " with the selector " + shown(rule.getSelector()));
  }
  // A rule that is never served cannot break a page's style rule.
  const std::string rejected = rejectedSelector(rule.getSelector());
  if (!rejected.empty() && verdict.grade() < Grade::kNever) {
    verdict.add(Grade::kBreaks,
                "a browser rejects its selector " + shown(rule.getSelector()) +
                    " (" + rejected +
                    "), and with it the whole style rule of every page it is "
                    "served on: element hiding is off there");
  }
  if (!verdict.empty()) {
    LintFinding finding = std::move(verdict).finding(number, line);
    finding.rejectedSelector = rejected;
    findings_.push_back(std::move(finding));
  }
}

void ListLinter::countIgnoredOptions(std::string_view line) {
  // Each name counted once per rule.
  const std::set<std::string> names = ignoredOptionNames(line);
  if (names.empty()) return;
  ++counts_.withIgnoredOptions;
  for (const std::string& name : names) ++ignoredOptions_[name];
}

namespace {

// Counts the NUL bytes and the bytes outside valid UTF-8 sequences.
class ByteCounter {
 public:
  explicit ByteCounter(FileBytes* out) : out_(out) {}

  void add(const unsigned char* data, size_t size) {
    for (size_t i = 0; i < size; ++i) step(data[i]);
    out_->bytes += size;
  }
  // The end of the file: an unfinished sequence is invalid.
  void finish() { out_->invalidUtf8 += pending_; }

 private:
  void step(unsigned char byte) {
    if (byte == 0) ++out_->nulBytes;
    if (needed_ > 0) {
      if (byte >= lowest_ && byte <= highest_) {
        lowest_ = 0x80;
        highest_ = 0xbf;
        ++pending_;
        if (--needed_ == 0) pending_ = 0;
        return;
      }
      out_->invalidUtf8 += pending_;  // the sequence broke off
      needed_ = 0;
      pending_ = 0;
    }
    if (byte < 0x80) return;
    // The lead byte decides the length and the range of the next byte
    // (no overlong forms, no surrogates, nothing above U+10FFFF).
    lowest_ = 0x80;
    highest_ = 0xbf;
    if (byte >= 0xc2 && byte <= 0xdf) {
      needed_ = 1;
    } else if (byte >= 0xe0 && byte <= 0xef) {
      needed_ = 2;
      if (byte == 0xe0) lowest_ = 0xa0;
      if (byte == 0xed) highest_ = 0x9f;
    } else if (byte >= 0xf0 && byte <= 0xf4) {
      needed_ = 3;
      if (byte == 0xf0) lowest_ = 0x90;
      if (byte == 0xf4) highest_ = 0x8f;
    } else {
      ++out_->invalidUtf8;
      return;
    }
    pending_ = 1;
  }

  FileBytes* out_;
  int needed_ = 0;               // continuation bytes still expected
  uint64_t pending_ = 0;         // bytes of the unfinished sequence
  unsigned char lowest_ = 0x80;  // range of the next continuation byte
  unsigned char highest_ = 0xbf;
};

bool scanBytes(const std::string& path, FileBytes* bytes, std::string* error) {
  const UniqueFile file = openRuleFile(path, error);
  if (!file) return false;
  *bytes = FileBytes();
  ByteCounter counter(bytes);
  constexpr size_t kChunk = 64 * 1024;
  std::unique_ptr<unsigned char[]> chunk(new unsigned char[kChunk]);
  errno = 0;
  size_t got;
  bool first = true;
  while ((got = std::fread(chunk.get(), 1, kChunk, file.get())) > 0) {
    if (first) {
      bytes->byteOrderMark =
          got >= 3 && std::memcmp(chunk.get(), kByteOrderMark.data(), 3) == 0;
      first = false;
    }
    counter.add(chunk.get(), got);
  }
  counter.finish();
  if (std::ferror(file.get())) {
    *error = readFailure(path, errno);
    return false;
  }
  return true;
}

}  // namespace

bool lintFile(const std::string& path, ListLinter* linter, FileBytes* bytes,
              std::string* error) {
  if (bytes != nullptr && !scanBytes(path, bytes, error)) return false;
  std::string text;  // the line handed to the linter
  return readRuleFile(
      path, nullptr,
      [linter, &text](size_t number, std::string_view line) {
        linter->addLine(number, text.assign(line.data(), line.size()));
      },
      [linter](size_t number) { linter->addOverlongLine(number); }, error);
}

}  // namespace quibex::tool
