// The "lint" command: what the engine will make of each given list, and
// the rules in it that will not take effect, graded "never" or "unlikely".
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tools/quibex/command.h"
#include "tools/quibex/decision_text.h"
#include "tools/quibex/lint.h"
#include "tools/quibex/output.h"
#include "tools/quibex/rule_files.h"

namespace quibex::tool {
namespace {

constexpr char kHelp[] =
    "usage: quibex lint [--rejected] FILE...\n"
    "\n"
    "Reads each rule list as the engine reads it and prints what the engine\n"
    "will make of it: the request rules per container, the element-hiding\n"
    "rules, comments, blank and rejected lines, and the options it ignores.\n"
    "Then every rule that will not take effect in this engine, as\n"
    "\"FILE:LINE: GRADE: RULE\" followed by the reasons, in two grades:\n"
    "\n"
    "  never     provable from the engine's own rules: a domain key or site\n"
    "            that no host candidate can equal (it has a \":\", a single\n"
    "            label, an empty label, ...), type options the matcher never\n"
    "            satisfies, an element-hiding rule without an included site\n"
    "            or with an empty excluded entry\n"
    "  unlikely  takes effect only for hosts real pages do not have (upper-\n"
    "            case letters, bytes host names do not carry), or the line\n"
    "            belongs to another rule syntax (\"#@#\", \"#?#\", list\n"
    "            headers, regular expressions) that this engine reads as\n"
    "            something else\n"
    "\n"
    "The exit code is 0 whatever is found, 1 when a file cannot be read.\n"
    "\n"
    "options:\n"
    "  --rejected  also list each rejected line with its reason\n";

// Most ignored option names listed; the rest are counted.
constexpr size_t kIgnoredOptionsShown = 8;

void writeCount(const char* label, size_t count, size_t indent) {
  char line[128];
  std::snprintf(line, sizeof line, "%*s%-*s %8zu\n", static_cast<int>(indent),
                "", static_cast<int>(40 - indent), label, count);
  writeOut(line);
}

std::string ignoredOptionsText(const ListLinter& linter) {
  std::vector<std::pair<std::string, size_t>> options(
      linter.ignoredOptions().begin(), linter.ignoredOptions().end());
  std::stable_sort(
      options.begin(), options.end(),
      [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string text;
  for (size_t i = 0; i < options.size() && i < kIgnoredOptionsShown; ++i) {
    if (i > 0) text += ", ";
    text += printable(options[i].first) + " (" +
            std::to_string(options[i].second) + ")";
  }
  if (options.size() > kIgnoredOptionsShown) {
    text += " and " + std::to_string(options.size() - kIgnoredOptionsShown) +
            " more";
  }
  return text;
}

void writeSummary(const std::string& path, const ListLinter& linter) {
  const LintCounts& c = linter.counts();
  size_t never = 0;
  for (const LintFinding& finding : linter.findings()) {
    never += finding.grade == Grade::kNever ? 1 : 0;
  }
  writeOut(printable(path) + "\n");
  writeCount("lines", c.lines, 2);
  writeCount("request rules", c.requestRules(), 2);
  for (size_t i = 0; i < FilterEngineImpl::kRequestContainers.size(); ++i) {
    const RequestContainer& container = FilterEngineImpl::kRequestContainers[i];
    if (container.list == 1) continue;  // the file is counted as list 0
    writeCount(containerLabel(container).c_str(), c.containerRules[i], 4);
  }
  writeCount("element-hiding rules", c.elemHideRules, 2);
  writeCount("comments", c.comments, 2);
  writeCount("blank lines", c.blank, 2);
  writeCount("rejected lines", c.rejected, 2);
  writeCount("rules with options the engine ignores", c.withIgnoredOptions, 2);
  if (c.withIgnoredOptions > 0) {
    writeOut("    " + ignoredOptionsText(linter) + "\n");
  }
  writeCount("rules that never take effect", never, 2);
  writeCount("rules unlikely to take effect", linter.findings().size() - never,
             2);
}

void writeFindings(const std::string& path, const ListLinter& linter,
                   bool withRejected) {
  // Findings and rejected lines merged in line order.
  const std::vector<LintFinding>& findings = linter.findings();
  const std::vector<RejectedLine>& rejected = linter.rejected();
  size_t f = 0;
  size_t r = 0;
  while (f < findings.size() || (withRejected && r < rejected.size())) {
    const bool takeRejected =
        withRejected && r < rejected.size() &&
        (f == findings.size() || rejected[r].line < findings[f].line);
    std::string text;
    if (takeRejected) {
      const RejectedLine& line = rejected[r++];
      text = printable(path) + ":" + std::to_string(line.line) +
             ": rejected: " + printable(line.text) + "\n    " + line.reason +
             "\n";
    } else {
      const LintFinding& finding = findings[f++];
      text = printable(path) + ":" + std::to_string(finding.line) + ": " +
             gradeName(finding.grade) + ": " + printable(finding.text) + "\n";
      for (const std::string& reason : finding.reasons) {
        text += "    " + reason + "\n";
      }
    }
    writeOut(text);
  }
}

int run(const Command&, const ParsedArguments& args) {
  std::string error;
  for (const std::string& path : args.operands()) {
    if (!checkReadable(path, &error)) return failure(error);
  }
  bool first = true;
  for (const std::string& path : args.operands()) {
    ListLinter linter;
    if (!lintFile(path, &linter, &error)) return failure(error);
    if (!first) writeOut("\n");
    first = false;
    writeSummary(path, linter);
    if (!linter.findings().empty() ||
        (args.flag("--rejected") && !linter.rejected().empty())) {
      writeOut("\n");
    }
    writeFindings(path, linter, args.flag("--rejected"));
  }
  return kExitOk;
}

}  // namespace

const Command& lintCommand() {
  static const Command command{
      "lint", "what the engine makes of a list, and its rules that never apply",
      kHelp,  {{"--rejected", false}},
      1,      SIZE_MAX,
      &run};
  return command;
}

}  // namespace quibex::tool
