// The "diff" command: what an update of the lists changes. Every request
// (or page) of stdin is answered by two engines, one with the lists in
// place and one with the candidate lists, and the answers that differ are
// printed with the rule that decided each side. Streams in constant memory
// beyond the two engines.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <utility>
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
    "usage: quibex diff [--first FILE] [--second FILE]\n"
    "                   [--new-first FILE] [--new-second FILE]\n"
    "                   [--selectors] [--tsv | --json] [--exit-code]\n"
    "\n"
    "Decides every request of stdin, \"URL<TAB>PAGE\" (PAGE may be empty or\n"
    "left out with its tab), with the lists in place and with the candidate\n"
    "lists, and prints each request whose answer changes: the old and the\n"
    "new answer and the rule that decided each, as \"FILE:LINE: RULE\". A\n"
    "summary follows: the requests read, newly blocked, newly allowed and\n"
    "unchanged, and the rules behind the most changes (a change counts for\n"
    "the rule that decided it before and for the rule that decides it now).\n"
    "The input is streamed: memory stays that of the two engines.\n"
    "\n"
    "options:\n"
    "  --first FILE       the first rule list in place\n"
    "  --second FILE      the second rule list in place, consulted before\n"
    "                     the first\n"
    "  --new-first FILE   the candidate first list (left out: unchanged)\n"
    "  --new-second FILE  the candidate second list (left out: unchanged)\n"
    "  --selectors        compare pages instead,\n"
    "                     \"PAGE<TAB>DOCUMENT<TAB>REFERRER\" (missing fields\n"
    "                     are empty): the selectors each page gains (+) and\n"
    "                     loses (-), each with its rule\n"
    "  --tsv              one tab-separated line per change, the summary on\n"
    "                     stderr: \"URL PAGE OLD NEW OLD_RULE NEW_RULE\" with\n"
    "                     the answers as 1 (blocked) or 0 and each rule as\n"
    "                     \"FILE:LINE: RULE\", empty when none decided; with\n"
    "                     --selectors \"PAGE DOCUMENT REFERRER +SELECTOR\"\n"
    "                     (or -SELECTOR), one line per selector gained or\n"
    "                     lost\n"
    "  --json             JSON Lines: one object per change, then one\n"
    "                     {\"summary\": ...} object\n"
    "  --exit-code        exit with 1 when anything changed, 0 when nothing\n"
    "                     did, and 2 when a file or stream cannot be used\n"
    "                     (stderr then says why)\n"
    "\n"
    "At least one --new-... list is required. A file named \"-\" is\n"
    "standard input only where stdin does not carry the requests.\n";

// Most rules listed under "rules behind the most changes".
constexpr size_t kCausesShown = 10;
// Widest selector column of a page's changes.
constexpr size_t kSelectorColumn = 32;

enum Side { kOld = 0, kNew = 1 };

// The rules behind the changes: how many changes each rule of each side
// took part in. Bounded by the number of rules, not by the input.
class Causes {
 public:
  void add(Side side, size_t index) {
    if (index != TrackedRules::kUnknown) ++counts_[{side, index}];
  }
  // Writes the rules behind the most changes, most first.
  void write(const TrackedRules* const rules[2]) const {
    if (counts_.empty()) return;
    std::vector<std::pair<size_t, std::pair<Side, size_t>>> ranked;
    for (const auto& [key, count] : counts_) ranked.push_back({count, key});
    std::stable_sort(
        ranked.begin(), ranked.end(),
        [](const auto& a, const auto& b) { return a.first > b.first; });
    if (ranked.size() > kCausesShown) ranked.resize(kCausesShown);
    const int width = static_cast<int>(std::to_string(ranked[0].first).size());
    writeOut("rules behind the most changes:\n");
    for (const auto& [count, key] : ranked) {
      const TrackedRules& side = *rules[key.first];
      char prefix[48];
      std::snprintf(prefix, sizeof prefix, "  %*zu  %s  ", width, count,
                    key.first == kOld ? "old" : "new");
      writeOut(prefix + side.location(key.second) + ": " +
               printable(side.text(key.second)) + "\n");
    }
  }

 private:
  std::map<std::pair<Side, size_t>, size_t> counts_;  // (side, rule) -> changes
};

// What the diff of one stream needs.
struct Diff {
  TrackedRules* rules[2];   // the lists in place and the candidate lists
  bool tsv;                 // tab-separated output
  bool json;                // JSON Lines output
  Causes causes;            // the rules behind the changes
  bool wroteEntry = false;  // a human entry was written (for blank lines)
  size_t changes = 0;       // requests or pages whose answer changed
};

void flushAnswers() { std::fflush(stdout); }

// Starts a human entry, separated from the one before by a blank line.
void beginEntry(Diff& diff) {
  if (diff.wroteEntry) writeOut("\n");
  diff.wroteEntry = true;
}

std::string answerWord(int blocked) {
  return blocked != 0 ? "blocked" : "allowed";
}

// "blocked by FILE:LINE: RULE" or "allowed, no rule matched".
std::string sideText(const TrackedRules& rules, const BlockExplanation& why) {
  if (why.rule == nullptr) return answerWord(why.blocked) + ", no rule matched";
  return answerWord(why.blocked) + " by " + rules.describe(why.rule);
}

// {"file": ..., "line": ..., "text": ...} of a filed rule; null for none.
nlohmann::json ruleJson(const TrackedRules& rules, const void* rule) {
  const size_t index = rules.indexOf(rule);
  if (index == TrackedRules::kUnknown) return nullptr;
  const RuleOrigin& origin = rules.rules()[index];
  return {{"file", rules.path(origin.list)},
          {"line", origin.line},
          {"text", rules.text(index)}};
}

nlohmann::json sideJson(const TrackedRules& rules,
                        const BlockExplanation& why) {
  return {{"blocked", why.blocked != 0}, {"rule", ruleJson(rules, why.rule)}};
}

// Writes the summary line (to stderr beside TSV output, else after the
// changes with the rules behind them) and returns the input's exit status.
int finish(Diff& diff, const std::string& summary, const LineInput& input) {
  if (diff.tsv) {
    std::fputs(("quibex diff: " + summary).c_str(), stderr);
  } else {
    beginEntry(diff);
    writeOut(summary);
    diff.causes.write(diff.rules);
  }
  return inputStatus(input);
}

int diffRequests(Diff& diff) {
  LineInput input(STDIN_FILENO, flushAnswers);
  std::string_view line;
  std::string url, page;
  std::string* const fields[] = {&url, &page};
  size_t read = 0, newlyBlocked = 0, newlyAllowed = 0;
  while (input.next(&line)) {
    splitTabFields(line, fields, 2);
    ++read;
    const BlockExplanation before =
        diff.rules[kOld]->engine().explainBlock(url, page);
    const BlockExplanation after =
        diff.rules[kNew]->engine().explainBlock(url, page);
    if (before.blocked == after.blocked) continue;
    ++(after.blocked != 0 ? newlyBlocked : newlyAllowed);
    ++diff.changes;
    diff.causes.add(kOld, diff.rules[kOld]->indexOf(before.rule));
    diff.causes.add(kNew, diff.rules[kNew]->indexOf(after.rule));
    if (diff.json) {
      writeJsonLine({{"url", url},
                     {"page", page},
                     {"old", sideJson(*diff.rules[kOld], before)},
                     {"new", sideJson(*diff.rules[kNew], after)}});
      continue;
    }
    if (diff.tsv) {
      writeOut(url + "\t" + page + "\t" + (before.blocked != 0 ? "1" : "0") +
               "\t" + (after.blocked != 0 ? "1" : "0") + "\t" +
               diff.rules[kOld]->describe(before.rule) + "\t" +
               diff.rules[kNew]->describe(after.rule) + "\n");
      continue;
    }
    beginEntry(diff);
    writeOut((after.blocked != 0 ? "newly blocked: " : "newly allowed: ") +
             printable(url) + "\n");
    writeField("page", orNone(page), 4);
    writeField("old", sideText(*diff.rules[kOld], before), 4);
    writeField("new", sideText(*diff.rules[kNew], after), 4);
  }
  flushAnswers();
  const size_t changed = newlyBlocked + newlyAllowed;
  if (diff.json) {
    writeJsonLine({{"summary",
                    {{"requests", read},
                     {"newlyBlocked", newlyBlocked},
                     {"newlyAllowed", newlyAllowed},
                     {"unchanged", read - changed}}}});
    return inputStatus(input);
  }
  const std::string summary =
      counted(read, "request", "requests") + ", " +
      std::to_string(newlyBlocked) + " newly blocked, " +
      std::to_string(newlyAllowed) + " newly allowed, " +
      std::to_string(read - changed) + " unchanged\n";
  return finish(diff, summary, input);
}

// Which occurrences of two selector lists stay: equal selectors are paired,
// first those that also come from the same rule text, so that a selector
// served by two rules, one of which goes, is reported lost with that rule.
void pairSelectors(const std::vector<SelectorSource>& before,
                   const std::vector<SelectorSource>& after,
                   std::vector<bool>* keptBefore,
                   std::vector<bool>* keptAfter) {
  keptBefore->assign(before.size(), false);
  keptAfter->assign(after.size(), false);
  for (const bool byRule : {true, false}) {
    const auto key = [byRule](const SelectorSource& source) {
      return std::make_pair(
          std::string_view(source.selector),
          byRule ? std::string_view(source.ruleText) : std::string_view());
    };
    const auto unpaired = [&](const std::vector<SelectorSource>& list,
                              const std::vector<bool>& kept) {
      std::vector<size_t> indexes;
      for (size_t i = 0; i < list.size(); ++i) {
        if (!kept[i]) indexes.push_back(i);
      }
      std::stable_sort(indexes.begin(), indexes.end(), [&](size_t a, size_t b) {
        return key(list[a]) < key(list[b]);
      });
      return indexes;
    };
    const std::vector<size_t> a = unpaired(before, *keptBefore);
    const std::vector<size_t> b = unpaired(after, *keptAfter);
    for (size_t i = 0, j = 0; i < a.size() && j < b.size();) {
      const auto keyA = key(before[a[i]]);
      const auto keyB = key(after[b[j]]);
      if (keyA < keyB) {
        ++i;
      } else if (keyB < keyA) {
        ++j;
      } else {
        (*keptBefore)[a[i++]] = true;
        (*keptAfter)[b[j++]] = true;
      }
    }
  }
}

std::string shownSelector(const std::string& selector) {
  return selector.empty() ? std::string("(empty)") : printable(selector);
}

// The human entry of one changed page.
void writePageEntry(Diff& diff, const std::string& page,
                    const std::string& document, const std::string& referrer,
                    const SelectorExplanation* const why[2],
                    const std::vector<bool>* const kept[2]) {
  beginEntry(diff);
  writeOut("changed page: " + printable(page) + "\n");
  writeField("document", orNone(document), 8);
  writeField("referrer", orNone(referrer), 8);
  if (why[kOld]->switchedOff != why[kNew]->switchedOff) {
    const Side side = why[kNew]->switchedOff ? kNew : kOld;
    writeOut(std::string("  element hiding is ") +
             (side == kNew ? "now" : "no longer") + " switched off by " +
             diff.rules[side]->describe(why[side]->exception) + "\n");
  }
  size_t width = 0;
  for (const Side side : {kNew, kOld}) {
    for (size_t i = 0; i < why[side]->selectors.size(); ++i) {
      if ((*kept[side])[i]) continue;
      width = std::max(width,
                       shownSelector(why[side]->selectors[i].selector).size());
    }
  }
  width = std::min(width, kSelectorColumn);
  for (const Side side : {kNew, kOld}) {
    for (size_t i = 0; i < why[side]->selectors.size(); ++i) {
      if ((*kept[side])[i]) continue;
      const SelectorSource& source = why[side]->selectors[i];
      std::string text = shownSelector(source.selector);
      if (text.size() < width) text.append(width - text.size(), ' ');
      writeOut(std::string(side == kNew ? "  + " : "  - ") + text + "  from " +
               diff.rules[side]->describe(source.rule) + "\n");
    }
  }
}

int diffPages(Diff& diff) {
  LineInput input(STDIN_FILENO, flushAnswers);
  std::string_view line;
  std::string page, document, referrer;
  std::string* const fields[] = {&page, &document, &referrer};
  size_t read = 0, changedPages = 0, gained = 0, lost = 0;
  std::vector<bool> keptBefore, keptAfter;
  while (input.next(&line)) {
    splitTabFields(line, fields, 3);
    ++read;
    const SelectorExplanation before =
        diff.rules[kOld]->engine().explainSelectors(page, document, referrer);
    const SelectorExplanation after =
        diff.rules[kNew]->engine().explainSelectors(page, document, referrer);
    pairSelectors(before.selectors, after.selectors, &keptBefore, &keptAfter);
    const size_t pageGained = static_cast<size_t>(
        std::count(keptAfter.begin(), keptAfter.end(), false));
    const size_t pageLost = static_cast<size_t>(
        std::count(keptBefore.begin(), keptBefore.end(), false));
    if (pageGained == 0 && pageLost == 0) continue;
    ++changedPages;
    ++diff.changes;
    gained += pageGained;
    lost += pageLost;
    const SelectorExplanation* const why[2] = {&before, &after};
    const std::vector<bool>* const kept[2] = {&keptBefore, &keptAfter};
    if (before.switchedOff != after.switchedOff) {
      const Side side = after.switchedOff ? kNew : kOld;
      diff.causes.add(side, diff.rules[side]->indexOf(why[side]->exception));
    }
    for (const Side side : {kNew, kOld}) {
      for (size_t i = 0; i < why[side]->selectors.size(); ++i) {
        if ((*kept[side])[i]) continue;
        diff.causes.add(
            side, diff.rules[side]->indexOf(why[side]->selectors[i].rule));
        if (diff.tsv && !diff.json) {
          writeOut(page + "\t" + document + "\t" + referrer + "\t" +
                   (side == kNew ? "+" : "-") +
                   printable(why[side]->selectors[i].selector) + "\n");
        }
      }
    }
    if (diff.json) {
      nlohmann::json change = {{"page", page},
                               {"document", document},
                               {"referrer", referrer},
                               {"gained", nlohmann::json::array()},
                               {"lost", nlohmann::json::array()}};
      if (before.switchedOff != after.switchedOff) {
        const Side side = after.switchedOff ? kNew : kOld;
        change[side == kNew ? "nowSwitchedOffBy" : "noLongerSwitchedOffBy"] =
            ruleJson(*diff.rules[side], why[side]->exception);
      }
      for (const Side side : {kNew, kOld}) {
        for (size_t i = 0; i < why[side]->selectors.size(); ++i) {
          if ((*kept[side])[i]) continue;
          change[side == kNew ? "gained" : "lost"].push_back(
              {{"selector", why[side]->selectors[i].selector},
               {"rule",
                ruleJson(*diff.rules[side], why[side]->selectors[i].rule)}});
        }
      }
      writeJsonLine(change);
    } else if (!diff.tsv) {
      writePageEntry(diff, page, document, referrer, why, kept);
    }
  }
  flushAnswers();
  if (diff.json) {
    writeJsonLine({{"summary",
                    {{"pages", read},
                     {"changed", changedPages},
                     {"gained", gained},
                     {"lost", lost},
                     {"unchanged", read - changedPages}}}});
    return inputStatus(input);
  }
  const std::string summary =
      counted(read, "page", "pages") + ", " + std::to_string(changedPages) +
      " changed (" + counted(gained, "selector", "selectors") + " gained, " +
      std::to_string(lost) + " lost), " + std::to_string(read - changedPages) +
      " unchanged\n";
  return finish(diff, summary, input);
}

int compare(const Command& self, const ParsedArguments& args, size_t* changes);

int run(const Command& self, const ParsedArguments& args) {
  if (!args.has("--new-first") && !args.has("--new-second")) {
    return usageError(self,
                      "nothing to compare: give --new-first or --new-second");
  }
  if (args.flag("--tsv") && args.flag("--json")) {
    return usageError(self, "--tsv and --json exclude each other");
  }
  size_t changes = 0;
  const int code = compare(self, args, &changes);
  if (!args.flag("--exit-code")) return code;
  // 1 means changes; every failure is 2, as in GNU diff.
  if (code != kExitOk) return kExitTrouble;
  return changes > 0 ? kExitFindings : kExitOk;
}

// Decides the input with both sets of lists and reports what changed;
// *changes receives how many requests or pages did.
int compare(const Command& self, const ParsedArguments& args, size_t* changes) {
  if (const int code = checkFileOptions(
          self, args, {"--first", "--second", "--new-first", "--new-second"});
      code != kExitOk) {
    return code;
  }
  const std::string& first = args.value("--first");
  const std::string& second = args.value("--second");
  TrackedRules before;
  TrackedRules after;
  if (const int code = loadTracked(first, second, &before); code != kExitOk) {
    return code;
  }
  if (const int code = loadTracked(
          args.has("--new-first") ? args.value("--new-first") : first,
          args.has("--new-second") ? args.value("--new-second") : second,
          &after);
      code != kExitOk) {
    return code;
  }
  Diff diff{{&before, &after}, args.flag("--tsv"), args.flag("--json"), {}};
  const int status =
      args.flag("--selectors") ? diffPages(diff) : diffRequests(diff);
  *changes = diff.changes;
  return status;
}

}  // namespace

const Command& diffCommand() {
  static const Command command{
      "diff",
      "what an update of the lists changes, and through which rules",
      kHelp,
      {kFirstOption,
       kSecondOption,
       {"--new-first", true},
       {"--new-second", true},
       {"--selectors", false},
       {"--tsv", false},
       {"--json", false},
       {"--exit-code", false}},
      0,
      0,
      &run,
      false,
      true};
  return command;
}

}  // namespace quibex::tool
