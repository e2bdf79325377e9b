// The "coverage" command: which rules of the lists decide anything in a
// stream of real requests (and pages). The engine answers every request and
// names the rule that decided it; the tool counts per rule and prints every
// rule with its count, in file and line order, so that the rules that never
// decide anything can be found.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tools/quibex/command.h"
#include "tools/quibex/json_output.h"
#include "tools/quibex/line_input.h"
#include "tools/quibex/output.h"
#include "tools/quibex/rule_files.h"
#include "tools/quibex/rule_origins.h"

namespace quibex::tool {
namespace {

constexpr char kHelp[] =
    "usage: quibex coverage [--first FILE] [--second FILE] [--pages FILE]\n"
    "                       [--unused] [--shadowed] [--json]\n"
    "\n"
    "Decides every request of stdin, \"URL<TAB>PAGE\" (PAGE may be empty or\n"
    "left out with its tab), and counts for each rule what it decided: for\n"
    "a request rule the requests it decided (it was the matching rule of the\n"
    "container whose answer the engine gave; a rule that matches but whose\n"
    "container is not consulted decides nothing), for an element-hiding\n"
    "rule the selectors it served to the pages of --pages, for an\n"
    "\"elemhide\" exception the pages it switched element hiding off for.\n"
    "Prints every rule as \"FILE:LINE<TAB>COUNT<TAB>RULE\", in file and line\n"
    "order, and on stderr a summary: per list, the rules that decided\n"
    "something out of all its rules.\n"
    "\n"
    "options:\n"
    "  --first FILE   the first rule list\n"
    "  --second FILE  the second rule list, consulted before the first\n"
    "  --pages FILE   also read pages from FILE, one\n"
    "                 \"PAGE<TAB>DOCUMENT<TAB>REFERRER\" line each (missing\n"
    "                 fields are empty)\n"
    "  --unused       print only the rules with a count of 0\n"
    "  --shadowed     also count the requests each request rule matched,\n"
    "                 whether it decided them or not, as a column after\n"
    "                 COUNT (\"-\" for element-hiding rules): a rule with a\n"
    "                 count of 0 that matched is shadowed by the rules\n"
    "                 consulted before it. Every rule is tried on every\n"
    "                 request, which takes far longer\n"
    "  --json         JSON Lines: one object per rule printed, then one\n"
    "                 {\"summary\": ...} object (instead of the summary on\n"
    "                 stderr)\n"
    "\n"
    "Without --pages the element-hiding rules and \"elemhide\" exceptions\n"
    "decided nothing: they are left out of --unused and of the summary's\n"
    "totals.\n";

// What the rules decided, per rule (indexed as TrackedRules::rules()).
struct Tally {
  std::vector<uint64_t> decided;  // requests decided, selectors served
  std::vector<uint64_t> matched;  // requests matched (--shadowed only)
  size_t requests = 0;            // requests read
  size_t decidedRequests = 0;     // requests some rule decided
  size_t pages = 0;               // pages read
  size_t switchedOff = 0;         // pages an "elemhide" exception turned off
  size_t selectors = 0;           // selectors served
};

void count(std::vector<uint64_t>& counts, size_t index) {
  if (index != TrackedRules::kUnknown) ++counts[index];
}

int countRequests(TrackedRules& rules, bool shadowed, Tally* tally) {
  LineInput input(STDIN_FILENO, nullptr);
  std::string_view line;
  std::string url, page;
  std::string* const fields[] = {&url, &page};
  while (input.next(&line)) {
    splitTabFields(line, fields, 2);
    ++tally->requests;
    const BlockExplanation why = rules.engine().explainBlock(url, page);
    if (why.rule != nullptr) {
      ++tally->decidedRequests;
      count(tally->decided, rules.indexOf(why.rule));
    }
    if (shadowed) {
      rules.engine().forEachMatchingRule(
          url, page, [&](const RequestFilter& rule) {
            count(tally->matched, rules.indexOf(&rule));
          });
    }
  }
  return inputStatus(input);
}

// Closes a descriptor when its owner goes away.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;  // the open descriptor, or -1
};

int countPages(TrackedRules& rules, const std::string& path, int fd,
               Tally* tally) {
  LineInput input(fd, nullptr);
  std::string_view line;
  std::string page, document, referrer;
  std::string* const fields[] = {&page, &document, &referrer};
  while (input.next(&line)) {
    splitTabFields(line, fields, 3);
    ++tally->pages;
    const SelectorExplanation why =
        rules.engine().explainSelectors(page, document, referrer);
    if (why.switchedOff) {
      ++tally->switchedOff;
      count(tally->decided, rules.indexOf(why.exception));
    }
    for (const SelectorSource& source : why.selectors) {
      ++tally->selectors;
      count(tally->decided, rules.indexOf(source.rule));
    }
  }
  if (input.tooLong()) {
    return failure("line " + std::to_string(input.lineNumber()) +
                   " of page file '" + path + "' is longer than " +
                   std::to_string(kMaxInputLine >> 20) + " MiB");
  }
  if (input.failed()) {
    return failure("cannot read page file '" + path +
                   "': " + std::strerror(input.readErrno()));
  }
  return kExitOk;
}

// What the run counts and prints.
struct Report {
  bool withPages;  // pages were read: element-hiding rules are counted
  bool unused;     // only the rules with a count of 0
  bool shadowed;   // the column of requests matched
  bool json;       // JSON Lines
};

// Whether the rule decides pages rather than requests: an element-hiding
// rule or an "elemhide" exception.
bool servesPages(const RuleOrigin& origin) {
  if (origin.elemHide) return true;
  return containerFor(*static_cast<const RequestFilter*>(origin.rule), 0)
      .elemHide;
}

void writeCounts(const TrackedRules& rules, const Tally& tally,
                 const Report& report) {
  const std::vector<RuleOrigin>& origins = rules.rules();
  const bool shadowed = report.shadowed;
  for (size_t i = 0; i < origins.size(); ++i) {
    // Without pages a rule that serves pages had nothing to decide: its 0
    // says nothing about it.
    if (!report.withPages && report.unused && servesPages(origins[i])) continue;
    if (report.unused && tally.decided[i] != 0) continue;
    if (report.json) {
      nlohmann::json item = {{"file", rules.path(origins[i].list)},
                             {"line", origins[i].line},
                             {"rule", rules.text(i)},
                             {"elemHide", origins[i].elemHide},
                             {"count", tally.decided[i]}};
      if (shadowed && !origins[i].elemHide) item["matched"] = tally.matched[i];
      writeJsonLine(item);
      continue;
    }
    std::string line =
        rules.location(i) + "\t" + std::to_string(tally.decided[i]) + "\t";
    if (shadowed) {
      line += origins[i].elemHide ? std::string("-")
                                  : std::to_string(tally.matched[i]);
      line += "\t";
    }
    line += printable(rules.text(i));
    line += "\n";
    writeOut(line);
  }
}

void writeSummary(const TrackedRules& rules, const Tally& tally,
                  const Report& report) {
  const bool withPages = report.withPages;
  const bool shadowed = report.shadowed;
  std::string text =
      "quibex coverage: " + counted(tally.requests, "request", "requests") +
      ", " + std::to_string(tally.decidedRequests) + " decided by a rule";
  if (withPages) {
    text += "; " + counted(tally.pages, "page", "pages") + ", " +
            std::to_string(tally.switchedOff) + " switched off, " +
            counted(tally.selectors, "selector", "selectors");
  }
  text += "\n";
  nlohmann::json lists = nlohmann::json::array();
  const std::vector<RuleOrigin>& origins = rules.rules();
  for (int list = 0; list < 2; ++list) {
    if (rules.path(list).empty()) continue;
    size_t all = 0, deciding = 0, shadowedRules = 0;
    for (size_t i = 0; i < origins.size(); ++i) {
      if (origins[i].list != list) continue;
      if (!withPages && servesPages(origins[i])) continue;
      ++all;
      deciding += tally.decided[i] != 0 ? 1 : 0;
      shadowedRules += shadowed && !origins[i].elemHide &&
                               tally.decided[i] == 0 && tally.matched[i] != 0
                           ? 1
                           : 0;
    }
    nlohmann::json entry = {{"list", list == 0 ? "first" : "second"},
                            {"file", rules.path(list)},
                            {"rules", all},
                            {"decidedSomething", deciding}};
    if (shadowed) entry["matchedButNeverDecided"] = shadowedRules;
    lists.push_back(std::move(entry));
    text += std::string("  ") + (list == 0 ? "first" : "second") + " list (" +
            printable(rules.path(list)) + "): " + std::to_string(deciding) +
            " of " + counted(all, "rule", "rules") + " decided something";
    if (shadowed) {
      text +=
          ", " + std::to_string(shadowedRules) + " matched but never decided";
    }
    text += "\n";
  }
  if (!withPages) {
    text +=
        "  element-hiding rules and \"elemhide\" exceptions left out: they "
        "decide pages, and no --pages were given\n";
  }
  if (report.json) {
    nlohmann::json summary = {{"requests", tally.requests},
                              {"decidedRequests", tally.decidedRequests},
                              {"elemHideCounted", withPages},
                              {"lists", lists}};
    if (withPages) {
      summary["pages"] = tally.pages;
      summary["switchedOff"] = tally.switchedOff;
      summary["selectors"] = tally.selectors;
    }
    writeJsonLine({{"summary", summary}});
    return;
  }
  std::fputs(text.c_str(), stderr);
}

int run(const Command& self, const ParsedArguments& args) {
  if (const int code =
          checkFileOptions(self, args, {"--first", "--second", "--pages"});
      code != kExitOk) {
    return code;
  }
  TrackedRules rules;
  if (const int code =
          loadTracked(args.value("--first"), args.value("--second"), &rules);
      code != kExitOk) {
    return code;
  }
  const std::string& pagesPath = args.value("--pages");
  // Opened before stdin is read, so that a wrong name fails at once.
  FileDescriptor pages(pagesPath.empty() ? -1
                                         : ::open(systemPath(pagesPath).c_str(),
                                                  O_RDONLY | O_CLOEXEC));
  if (!pagesPath.empty() && pages.get() < 0) {
    return failure("cannot open page file '" + pagesPath +
                   "': " + std::strerror(errno));
  }
  const bool shadowed = args.flag("--shadowed");
  Tally tally;
  tally.decided.assign(rules.rules().size(), 0);
  if (shadowed) tally.matched.assign(rules.rules().size(), 0);
  if (const int code = countRequests(rules, shadowed, &tally);
      code != kExitOk) {
    return code;
  }
  if (pages.get() >= 0) {
    if (const int code = countPages(rules, pagesPath, pages.get(), &tally);
        code != kExitOk) {
      return code;
    }
  }
  const Report report{pages.get() >= 0, args.flag("--unused"), shadowed,
                      args.flag("--json")};
  writeCounts(rules, tally, report);
  writeSummary(rules, tally, report);
  return kExitOk;
}

}  // namespace

const Command& coverageCommand() {
  static const Command command{
      "coverage",
      "how often each rule decides over a stream of requests",
      kHelp,
      {kFirstOption,
       kSecondOption,
       {"--pages", true},
       {"--unused", false},
       {"--shadowed", false},
       {"--json", false}},
      0,
      0,
      &run,
      false,
      true};
  return command;
}

}  // namespace quibex::tool
