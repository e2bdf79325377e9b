// The "selectors" command: the element-hiding selectors of a page and,
// with --explain, the rule each came from or why there are none.
#include <algorithm>
#include <string>
#include <vector>

#include "engine/host_candidates.h"
#include "tools/quibex/command.h"
#include "tools/quibex/output.h"
#include "tools/quibex/rule_files.h"
#include "tools/quibex/rule_origins.h"

namespace quibex::tool {
namespace {

constexpr char kHelp[] =
    "usage: quibex selectors [--first FILE] [--second FILE] [--explain]\n"
    "                        PAGE [DOCUMENT [REFERRER]]\n"
    "\n"
    "Prints the element-hiding selectors for the page PAGE (a URL or a bare\n"
    "host name), one per line, in the engine's order and with its repeats.\n"
    "DOCUMENT and REFERRER are the request and page URLs tested against\n"
    "the exception rules with the \"elemhide\" option; when one matches,\n"
    "the page gets no selectors. Left out, they are empty, and an empty\n"
    "DOCUMENT matches no such exception.\n"
    "\n"
    "options:\n"
    "  --first FILE   the first rule list\n"
    "  --second FILE  the second rule list\n"
    "  --explain      also print the page's host and domain candidates, the\n"
    "                 rule of each selector as FILE:LINE: RULE, and why there are none when\n"
    "                 there are none (an \"elemhide\" exception switched\n"
    "                 element hiding off, or no rule names a candidate)\n";

// Most candidates listed before the rest are only counted.
constexpr size_t kCandidatesShown = 12;
// Widest selector column; longer selectors push their rule to the right.
constexpr size_t kSelectorColumn = 32;

std::string describeHost(const std::string& pageAddress,
                         std::vector<std::string>* candidates) {
  std::string hostWithPort;
  const std::string host = extractHost(pageAddress, &hostWithPort);
  *candidates = domainCandidates(host);
  std::string text = orNone(host);
  if (hostWithPort != host) {
    text += " (" + printable(hostWithPort) + " with its port)";
  }
  if (candidates->empty()) return text + "; no domain candidates";
  text += "; domain candidates: ";
  for (size_t i = 0; i < candidates->size() && i < kCandidatesShown; ++i) {
    if (i > 0) text += ", ";
    text += printable((*candidates)[i]);
  }
  if (candidates->size() > kCandidatesShown) {
    text += " and " + std::to_string(candidates->size() - kCandidatesShown) +
            " more";
  }
  return text;
}

// A "label: value" line of the explanation, at the left margin.
void field(const char* label, const std::string& value) {
  writeField(label, value, 9, 0);
}

void writeExplanation(const TrackedRules& rules, const SelectorExplanation& why,
                      const std::string& pageAddress,
                      const std::string& documentUrl,
                      const std::string& referrerUrl) {
  field("page", orNone(pageAddress));
  field("document", orNone(documentUrl));
  field("referrer", orNone(referrerUrl));
  std::vector<std::string> candidates;
  if (!pageAddress.empty()) {
    field("host", describeHost(pageAddress, &candidates));
  }
  if (why.switchedOff) {
    field("selectors",
          "none; element hiding is switched off for this page by the "
          "exception " +
              rules.describe(why.exception) +
              ", which matches the document URL");
    return;
  }
  if (why.selectors.empty()) {
    std::string reason;
    if (pageAddress.empty()) {
      reason = "the page address is empty";
    } else if (candidates.empty()) {
      reason =
          "a host of one label has no domain candidates, the only "
          "keys under which element-hiding rules are found";
    } else {
      reason =
          "no element-hiding rule filed under these candidates "
          "applies to this host";
    }
    field("selectors", "none; " + reason);
    return;
  }
  field("selectors", std::to_string(why.selectors.size()));
  const auto shown = [](const std::string& selector) {
    return selector.empty() ? std::string("(empty)") : printable(selector);
  };
  size_t width = 0;
  for (const SelectorSource& source : why.selectors) {
    width = std::max(width, shown(source.selector).size());
  }
  width = std::min(width, kSelectorColumn);
  for (const SelectorSource& source : why.selectors) {
    std::string line = shown(source.selector);
    if (line.size() < width) line.append(width - line.size(), ' ');
    writeOut("  " + line + "  from " + rules.describe(source.rule) + "\n");
  }
}

int run(const Command& self, const ParsedArguments& args) {
  const std::vector<std::string>& operands = args.operands();
  const std::string empty;
  const std::string& page = operands[0];
  const std::string& document = operands.size() > 1 ? operands[1] : empty;
  const std::string& referrer = operands.size() > 2 ? operands[2] : empty;
  if (args.flag("--explain")) {
    // Only an engine filled line by line knows each rule's line.
    if (const int code = checkFileOptions(self, args, {"--first", "--second"});
        code != kExitOk) {
      return code;
    }
    TrackedRules tracked;
    if (const int code = loadTracked(args.value("--first"),
                                     args.value("--second"), &tracked);
        code != kExitOk) {
      return code;
    }
    writeExplanation(
        tracked, tracked.engine().explainSelectors(page, document, referrer),
        page, document, referrer);
    return kExitOk;
  }
  LoadedRules rules;
  if (const int code = loadFromArguments(self, args, &rules); code != kExitOk) {
    return code;
  }
  for (const std::string& selector :
       rules.engine().getSelectors(page, document, referrer)) {
    writeOut(selector);
    writeOut("\n");
  }
  return kExitOk;
}

}  // namespace

const Command& selectorsCommand() {
  static const Command command{
      "selectors", "the element-hiding selectors of a page, and their rules",
      kHelp,       {kFirstOption, kSecondOption, {"--explain", false}},
      1,           3,
      &run};
  return command;
}

}  // namespace quibex::tool
