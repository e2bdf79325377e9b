// The list linter; see lint.h. Each reason states what this engine does
// with the rule and why that means it never (or hardly ever) applies.
#include "tools/quibex/lint.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
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
#include "tools/quibex/output.h"
#include "tools/quibex/rule_files.h"

namespace quibex::tool {
namespace {

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

// Why text can never equal a domain candidate, or "" when it can. A
// candidate is a run of two or more non-empty host labels joined by single
// dots, taken from the first kSplitBufferBytes bytes of a host that ends
// before the first "/" and is cut at the first ":".
std::string neverCandidate(std::string_view text) {
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
  if (text.find("..") != std::string_view::npos) {
    return "has an empty label (\"..\"), and candidates have none";
  }
  return "";
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
    bytes += quoted(std::string_view(&c, 1));
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
  return kind + (container.keyed ? " filed under the domain key " + quoted(key)
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

// Collects the reasons of one rule and keeps the strongest grade.
class Verdict {
 public:
  void never(std::string reason) {
    hasNever_ = true;
    reasons_.push_back(std::move(reason));
  }
  void unlikely(std::string reason) { reasons_.push_back(std::move(reason)); }
  bool empty() const { return reasons_.empty(); }
  LintFinding finding(size_t line, std::string_view text) && {
    return LintFinding{line, hasNever_ ? Grade::kNever : Grade::kUnlikely,
                       std::string(text), std::move(reasons_)};
  }

 private:
  bool hasNever_ = false;
  std::vector<std::string> reasons_;
};

}  // namespace

const char* gradeName(Grade grade) {
  return grade == Grade::kNever ? "never" : "unlikely";
}

void ListLinter::addLine(size_t number, const std::string& line) {
  ++counts_.lines;
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
      verdict.never("the domain key " + quoted(key) + " " + why +
                    ", so no request host ever has it as a domain candidate "
                    "and the rule is never tried");
    } else if (const std::string odd = unlikelyHost(key, false); !odd.empty()) {
      verdict.unlikely("the domain key " + quoted(key) + " " + odd +
                       ", so the rule is tried only for such hosts");
    }
  }
  const uint32_t mask = rule.typeMask();
  if (mask != 0 && (mask & kSatisfiableTypes) == 0) {
    verdict.never("its type options (" + typeNames(mask) +
                  ") are never satisfied: a request's type is known only "
                  "from the end of its URL (\".js\", \".css\", \".swf\" and "
                  "image suffixes), so the content-type test always fails");
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
      odd.push_back("the \"domain\" name " + quoted(name) + " " + why);
    }
    if (odd.size() == rule.includeDomains().size()) {
      for (std::string& why : odd) {
        verdict.unlikely(std::move(why) +
                         ", so a page's domain key hardly contains it");
      }
    }
  }
  if (hasControlOrBlank(rule.pattern())) {
    std::string why = "its pattern " + quoted(rule.pattern()) +
                      " has white space or control bytes, which request URLs "
                      "do not carry; the engine never trims a line";
    const size_t first = line.find_first_not_of(" \t");
    if (first != std::string::npos && first > 0 && line[first] == '!') {
      why += ", so the \"!\" after the blanks does not make it a comment";
    }
    verdict.unlikely(std::move(why));
  }
  if (!verdict.empty()) {
    findings_.push_back(std::move(verdict).finding(number, line));
  }
}

void ListLinter::addElemHideRule(size_t number, const std::string& line,
                                 const ElemHideFilter& rule) {
  ++counts_.elemHideRules;
  Verdict verdict;
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
        never.push_back("the site " + quoted(site) + " " + why +
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
            "the excluded entry " + quoted(shadow) + " occurs in the site " +
            quoted(site) +
            ", so every page host with that candidate is excluded (short of "
            "hosts with empty labels)");
      } else if (const std::string odd = unlikelyHost(site, false);
                 !odd.empty()) {
        unlikely.push_back("the site " + quoted(site) + " " + odd);
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
        quoted(sites) + " with the selector " + quoted(rule.getSelector()));
  }
  if (!verdict.empty()) {
    findings_.push_back(std::move(verdict).finding(number, line));
  }
}

void ListLinter::countIgnoredOptions(std::string_view line) {
  const size_t dollar = findOptionsDollar(line);
  if (dollar == std::string_view::npos) return;
  std::set<std::string> names;  // each name counted once per rule
  forEachOption(line.substr(dollar + 1), [&names](std::string_view option,
                                                  bool /*negated*/) {
    if (option.empty() || findRuleOption(option) != nullptr) return;
    names.insert(std::string(option.substr(0, option.find('='))));
  });
  if (names.empty()) return;
  ++counts_.withIgnoredOptions;
  for (const std::string& name : names) ++ignoredOptions_[name];
}

bool lintFile(const std::string& path, ListLinter* linter, std::string* error) {
  const UniqueFile file = openRuleFile(path, error);
  if (!file) return false;
  RuleFileReader reader(file.get());
  std::string line;
  size_t number = 0;         // lines seen, skipped ones included
  size_t skippedBefore = 0;  // reader.skippedLines() already accounted for
  size_t pendingBlank = 0;   // empty lines not yet known to be lines
  const auto catchUpSkipped = [&] {
    for (; skippedBefore < reader.skippedLines(); ++skippedBefore) {
      for (; pendingBlank > 0; --pendingBlank) linter->addLine(++number, "");
      linter->addOverlongLine(++number);
    }
  };
  errno = 0;
  while (reader.next(&line)) {
    catchUpSkipped();
    if (line.empty()) {
      // An empty line is a line only if another line follows it: the text
      // after the last line feed is not one.
      ++pendingBlank;
      continue;
    }
    for (; pendingBlank > 0; --pendingBlank) linter->addLine(++number, "");
    linter->addLine(++number, line);
  }
  catchUpSkipped();
  // The last pending empty line is the text after the last line feed.
  for (; pendingBlank > 1; --pendingBlank) linter->addLine(++number, "");
  if (reader.failed()) {
    *error = readFailure(path, errno);
    return false;
  }
  return true;
}

}  // namespace quibex::tool
