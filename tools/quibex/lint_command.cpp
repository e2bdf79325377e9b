// The "lint" command: what the engine will make of each given list, and
// the rules in it that will not take effect, graded "never" or "unlikely".
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tools/quibex/command.h"
#include "tools/quibex/decision_text.h"
#include "tools/quibex/json_output.h"
#include "tools/quibex/lint.h"
#include "tools/quibex/output.h"
#include "tools/quibex/rule_files.h"

namespace quibex::tool {
namespace {

constexpr char kHelp[] =
    "usage: quibex lint [--rejected] [--fail-on GRADE] [--json] FILE...\n"
    "\n"
    "Reads each rule list as the engine reads it and prints what the engine\n"
    "will make of it: the request rules per container, the element-hiding\n"
    "rules, comments, blank and rejected lines, and the options it ignores.\n"
    "Then every rule that matches every address, breaks element hiding or\n"
    "will not take effect in this engine, as\n"
    "\"FILE:LINE: GRADE: RULE\" followed by the reasons, in four grades,\n"
    "the strongest first:\n"
    "\n"
    "  everything  a request rule (or exception) whose pattern matches every\n"
    "              address (\"*\", \"|\", \"||\", \"^\", an empty pattern before\n"
    "              \"$\"): it blocks or allows every request of its scope; the\n"
    "              reasons name the options that narrow it, if any\n"
    "  breaks      an element-hiding rule whose selector a browser rejects\n"
    "              (another syntax's scriptlet, a procedural pseudo-class,\n"
    "              unbalanced brackets or quotes, an empty selector, ...): the\n"
    "              host's whole style rule is dropped on every page it is\n"
    "              served on, so element hiding is off there\n"
    "  never       provable from the engine's own rules: a domain key or site\n"
    "              that no host candidate can equal (it has a \":\", a single\n"
    "              label, an empty label, ...), type options the matcher never\n"
    "              satisfies, an element-hiding rule without an included site\n"
    "              or with an empty excluded entry\n"
    "  unlikely    takes effect only for hosts real pages do not have (upper-\n"
    "              case letters, bytes host names do not carry), or the line\n"
    "              belongs to another rule syntax (\"#@#\", \"#?#\", list\n"
    "              headers, regular expressions) that this engine reads as\n"
    "              something else\n"
    "\n"
    "A file that begins with a UTF-8 byte-order mark, or that is no text\n"
    "(NUL bytes, or more than a tenth of its bytes outside UTF-8), is named\n"
    "in the summary; the findings of a file that is no text are counted,\n"
    "not listed. FILE \"-\" is standard input.\n"
    "\n"
    "The exit code is 0 whatever is found, 1 when a file cannot be read;\n"
    "with --fail-on, 1 when a finding of GRADE or a stronger one is found\n"
    "and 2 when a file cannot be read.\n"
    "\n"
    "options:\n"
    "  --rejected        also list each rejected line with its reason\n"
    "  --fail-on GRADE   exit with 1 when a finding of GRADE (everything,\n"
    "                    breaks, never or unlikely) or stronger is found\n"
    "  --json            one JSON object per file, one line each\n";

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

// Findings per grade, indexed by the grade's value.
std::array<size_t, kGradeCount> gradeCounts(const ListLinter& linter) {
  std::array<size_t, kGradeCount> counts{};
  for (const LintFinding& finding : linter.findings()) {
    ++counts[static_cast<size_t>(finding.grade)];
  }
  return counts;
}

// The strongest grade of the findings; false when there are none.
bool strongestGrade(const ListLinter& linter, Grade* grade) {
  if (linter.findings().empty()) return false;
  *grade = Grade::kUnlikely;
  for (const LintFinding& finding : linter.findings()) {
    *grade = std::max(*grade, finding.grade);
  }
  return true;
}

void writeSummary(const std::string& path, const ListLinter& linter,
                  const FileBytes& bytes) {
  const LintCounts& c = linter.counts();
  const std::array<size_t, kGradeCount> grades = gradeCounts(linter);
  writeOut(printable(path) + "\n");
  if (const std::string why = bytes.notAList(); !why.empty()) {
    writeOut("  not a rule list: " + why + "; its findings are not listed\n");
  }
  if (bytes.byteOrderMark) {
    writeOut(
        "  begins with a UTF-8 byte-order mark, which the engine reads as "
        "part of line 1\n");
  }
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
  writeCount("rules that match every address",
             grades[static_cast<size_t>(Grade::kEverything)], 2);
  writeCount("selectors a browser rejects",
             grades[static_cast<size_t>(Grade::kBreaks)], 2);
  writeCount("rules that never take effect",
             grades[static_cast<size_t>(Grade::kNever)], 2);
  writeCount("rules unlikely to take effect",
             grades[static_cast<size_t>(Grade::kUnlikely)], 2);
}

void writeFindings(const std::string& path, const ListLinter& linter,
                   bool withFindings, bool withRejected) {
  // Findings and rejected lines merged in line order.
  static const std::vector<LintFinding> kNone;
  const std::vector<LintFinding>& findings =
      withFindings ? linter.findings() : kNone;
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

nlohmann::json jsonOf(const std::string& path, const ListLinter& linter,
                      const FileBytes& bytes) {
  const LintCounts& c = linter.counts();
  nlohmann::json containers = nlohmann::json::object();
  for (size_t i = 0; i < FilterEngineImpl::kRequestContainers.size(); ++i) {
    const RequestContainer& container = FilterEngineImpl::kRequestContainers[i];
    if (container.list != 1) containers[container.member] = c.containerRules[i];
  }
  nlohmann::json grades = nlohmann::json::object();
  const std::array<size_t, kGradeCount> perGrade = gradeCounts(linter);
  for (size_t i = 0; i < kGradeCount; ++i) {
    grades[gradeName(static_cast<Grade>(i))] = perGrade[i];
  }
  nlohmann::json findings = nlohmann::json::array();
  for (const LintFinding& finding : linter.findings()) {
    nlohmann::json item = {{"line", finding.line},
                           {"grade", gradeName(finding.grade)},
                           {"rule", finding.text},
                           {"reasons", finding.reasons}};
    if (!finding.rejectedSelector.empty()) {
      item["rejectedSelector"] = finding.rejectedSelector;
    }
    findings.push_back(std::move(item));
  }
  nlohmann::json rejected = nlohmann::json::array();
  for (const RejectedLine& line : linter.rejected()) {
    rejected.push_back(
        {{"line", line.line}, {"rule", line.text}, {"reason", line.reason}});
  }
  const std::string notAList = bytes.notAList();
  return {{"file", path},
          {"byteOrderMark", bytes.byteOrderMark},
          {"notAList",
           notAList.empty() ? nlohmann::json() : nlohmann::json(notAList)},
          {"counts",
           {{"lines", c.lines},
            {"requestRules", c.requestRules()},
            {"containers", containers},
            {"elemHideRules", c.elemHideRules},
            {"comments", c.comments},
            {"blank", c.blank},
            {"rejected", c.rejected},
            {"withIgnoredOptions", c.withIgnoredOptions},
            {"findings", grades}}},
          {"ignoredOptions", linter.ignoredOptions()},
          {"findings", findings},
          {"rejected", rejected}};
}

int run(const Command& self, const ParsedArguments& args) {
  Grade failOn = Grade::kUnlikely;
  const bool failing = args.has("--fail-on");
  if (failing && !gradeFromName(args.value("--fail-on"), &failOn)) {
    return usageError(self,
                      "--fail-on takes everything, breaks, never or "
                      "unlikely, not '" +
                          args.value("--fail-on") + "'");
  }
  // With --fail-on, 1 means findings; trouble is 2, as with diff.
  const auto trouble = [failing](const std::string& message) {
    failure(message);
    return failing ? kExitTrouble : kExitFailure;
  };
  std::string error;
  for (const std::string& path : args.operands()) {
    if (!checkReadable(path, &error)) return trouble(error);
  }
  const bool json = args.flag("--json");
  bool found = false;
  bool first = true;
  for (const std::string& path : args.operands()) {
    ListLinter linter;
    FileBytes bytes;
    if (!lintFile(path, &linter, &bytes, &error)) return trouble(error);
    Grade strongest;
    if (strongestGrade(linter, &strongest) && strongest >= failOn) {
      found = true;
    }
    if (json) {
      writeJsonLine(jsonOf(path, linter, bytes));
      continue;
    }
    if (!first) writeOut("\n");
    first = false;
    writeSummary(path, linter, bytes);
    const bool listed = bytes.notAList().empty();
    if ((listed && !linter.findings().empty()) ||
        (args.flag("--rejected") && !linter.rejected().empty())) {
      writeOut("\n");
    }
    writeFindings(path, linter, listed, args.flag("--rejected"));
  }
  return failing && found ? kExitFindings : kExitOk;
}

}  // namespace

const Command& lintCommand() {
  static const Command command{
      "lint", "what the engine makes of a list, and its rules that never apply",
      kHelp,  {{"--rejected", false}, {"--fail-on", true}, {"--json", false}},
      1,      SIZE_MAX,
      &run,   true};
  return command;
}

}  // namespace quibex::tool
