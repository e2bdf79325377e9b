// The "check" command: whether a request is blocked and, with --explain,
// the rule, the list and the container that decided it.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "tools/quibex/command.h"
#include "tools/quibex/decision_text.h"
#include "tools/quibex/line_input.h"
#include "tools/quibex/output.h"
#include "tools/quibex/rule_files.h"
#include "tools/quibex/rule_origins.h"

namespace quibex::tool {
namespace {

constexpr char kHelp[] =
    "usage: quibex check [--first FILE] [--second FILE] [--explain] URL "
    "[PAGE]\n"
    "       quibex check [--first FILE] [--second FILE] [--explain] "
    "--stdin\n"
    "\n"
    "Prints \"blocked\" or \"allowed\" for the request URL fetched by the\n"
    "page PAGE (left out: no page), decided by the engine exactly as the\n"
    "library decides it.\n"
    "\n"
    "options:\n"
    "  --first FILE   the first rule list\n"
    "  --second FILE  the second rule list, consulted before the first\n"
    "  --explain      also print the deciding rule with its FILE:LINE, the\n"
    "                 list it came from\n"
    "                 and the container that decided (exception or\n"
    "                 blocking, domain-keyed with its key or generic), or\n"
    "                 that no rule matched\n"
    "  --stdin        answer every request of stdin instead, one\n"
    "                 \"URL<TAB>PAGE\" line each (PAGE may be empty);\n"
    "                 explanations are separated by blank lines\n";

void writeExplanation(const BlockExplanation& why, const std::string& url,
                      const std::string& page, const TrackedRules& rules) {
  writeOut(why.blocked != 0 ? "blocked\n" : "allowed\n");
  writeField("request", orNone(url));
  writeField("page", orNone(page));
  if (why.step == DecisionStep::kNone) {
    writeField("rule",
               "none matched, and a request no rule matches is "
               "allowed");
    return;
  }
  writeField("rule", printable(why.ruleText));
  const size_t index = rules.indexOf(why.rule);
  if (index != TrackedRules::kUnknown)
    writeField("line", rules.location(index));
  writeField("list", describeList(why.step, rules.path(0), rules.path(1)));
  writeField("container", describeContainer(why.step, why.key));
}

// Answers one request on stdout. tracked, the same rules with their
// lines, is given for explanations.
void answer(FilterEngineImpl& engine, const TrackedRules* tracked,
            const std::string& url, const std::string& page) {
  if (tracked != nullptr) {
    writeExplanation(engine.explainBlock(url, page), url, page, *tracked);
  } else {
    writeOut(engine.shouldBlock(url, page) != 0 ? "blocked\n" : "allowed\n");
  }
}

int run(const Command& self, const ParsedArguments& args) {
  const bool fromStdin = args.flag("--stdin");
  const std::vector<std::string>& operands = args.operands();
  if (fromStdin && !operands.empty()) {
    return usageError(self, "--stdin takes no URL or PAGE arguments");
  }
  if (!fromStdin && operands.empty()) {
    return usageError(self, "a request URL is required");
  }
  // An explanation names the deciding rule's line, which only an engine
  // filled line by line knows; a plain answer takes the engine's own load.
  const bool explain = args.flag("--explain");
  LoadedRules loaded;
  TrackedRules tracked;
  if (explain) {
    if (const int code = checkFileOptions(self, args, {"--first", "--second"});
        code != kExitOk) {
      return code;
    }
    if (const int code = loadTracked(args.value("--first"),
                                     args.value("--second"), &tracked);
        code != kExitOk) {
      return code;
    }
  } else if (const int code = loadFromArguments(self, args, &loaded);
             code != kExitOk) {
    return code;
  }
  FilterEngineImpl& engine = explain ? tracked.engine() : loaded.engine();
  const TrackedRules* const lines = explain ? &tracked : nullptr;
  if (!fromStdin) {
    answer(engine, lines, operands[0],
           operands.size() > 1 ? operands[1] : std::string());
    return kExitOk;
  }
  LineInput input(STDIN_FILENO, [] { std::fflush(stdout); });
  std::string_view line;
  std::string url, page;
  std::string* const fields[] = {&url, &page};
  bool first = true;
  while (input.next(&line)) {
    splitTabFields(line, fields, 2);
    if (explain && !first) writeOut("\n");
    first = false;
    answer(engine, lines, url, page);
  }
  return inputStatus(input);
}

}  // namespace

const Command& checkCommand() {
  static const Command command{
      "check",
      "whether a request is blocked, and why",
      kHelp,
      {kFirstOption, kSecondOption, {"--explain", false}, {"--stdin", false}},
      0,
      2,
      &run};
  return command;
}

}  // namespace quibex::tool
