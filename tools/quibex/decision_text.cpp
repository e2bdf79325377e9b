// Words for the engine's containers and decisions; see decision_text.h.
#include "tools/quibex/decision_text.h"

#include "tools/quibex/output.h"

namespace quibex::tool {
namespace {

// "exceptions" or "blocking rules".
std::string kindWords(const RequestContainer& container) {
  return container.kind == RuleKind::kException ? "exceptions"
                                                : "blocking rules";
}

}  // namespace

std::string containerLabel(const RequestContainer& container) {
  if (container.elemHide) {
    return "\"elemhide\" " + kindWords(container) + " by domain key";
  }
  return container.keyed ? kindWords(container) + " filed by domain key"
                         : "generic " + kindWords(container);
}

std::string describeContainer(DecisionStep step, const std::string& key) {
  if (step == DecisionStep::kNone) return "";
  const RequestContainer& container = containerOf(step);
  const std::string kind = kindWords(container);
  std::string text = container.keyed
                         ? kind + " filed under the domain key " + quoted(key)
                         : "generic " + kind + ", without a domain key";
  return text + " (" + container.member + ")";
}

std::string describeList(DecisionStep step, const std::string& firstPath,
                         const std::string& secondPath) {
  if (step == DecisionStep::kNone) return "";
  switch (containerOf(step).list) {
    case 0:
      return "first (" + orNone(firstPath) + ")";
    case 1:
      return "second (" + orNone(secondPath) + "), consulted before the first";
    default:
      return "";
  }
}

}  // namespace quibex::tool
