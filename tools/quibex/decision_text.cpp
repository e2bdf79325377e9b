// Words for the engine's decisions; see decision_text.h.
#include "tools/quibex/decision_text.h"

#include "tools/quibex/output.h"

namespace quibex::tool {

int stepList(DecisionStep step) {
  switch (step) {
    case DecisionStep::kExceptionsByDomain1:
    case DecisionStep::kExceptions1:
    case DecisionStep::kBlockingByDomain1:
    case DecisionStep::kBlocking1:
      return 1;
    case DecisionStep::kExceptionsByDomain0:
    case DecisionStep::kExceptions0:
    case DecisionStep::kBlockingByDomain0:
    case DecisionStep::kBlocking0:
      return 0;
    case DecisionStep::kNone:
      break;
  }
  return -1;
}

bool stepIsException(DecisionStep step) {
  switch (step) {
    case DecisionStep::kExceptionsByDomain1:
    case DecisionStep::kExceptions1:
    case DecisionStep::kExceptionsByDomain0:
    case DecisionStep::kExceptions0:
      return true;
    default:
      return false;
  }
}

bool stepIsDomainKeyed(DecisionStep step) {
  switch (step) {
    case DecisionStep::kExceptionsByDomain1:
    case DecisionStep::kBlockingByDomain1:
    case DecisionStep::kExceptionsByDomain0:
    case DecisionStep::kBlockingByDomain0:
      return true;
    default:
      return false;
  }
}

const char* stepMemberName(DecisionStep step) {
  switch (step) {
    case DecisionStep::kExceptionsByDomain1:
      return "exceptionsByDomain1";
    case DecisionStep::kExceptions1:
      return "exceptions1";
    case DecisionStep::kBlockingByDomain1:
      return "blockingByDomain1";
    case DecisionStep::kBlocking1:
      return "blocking1";
    case DecisionStep::kExceptionsByDomain0:
      return "exceptionsByDomain0";
    case DecisionStep::kExceptions0:
      return "exceptions0";
    case DecisionStep::kBlockingByDomain0:
      return "blockingByDomain0";
    case DecisionStep::kBlocking0:
      return "blocking0";
    case DecisionStep::kNone:
      break;
  }
  return "";
}

std::string describeContainer(DecisionStep step, const std::string& key) {
  if (step == DecisionStep::kNone) return "";
  const std::string kind =
      stepIsException(step) ? "exceptions" : "blocking rules";
  std::string text = stepIsDomainKeyed(step)
                         ? kind + " filed under the domain key " + quoted(key)
                         : "generic " + kind + ", without a domain key";
  return text + " (" + stepMemberName(step) + ")";
}

std::string describeList(DecisionStep step, const std::string& firstPath,
                         const std::string& secondPath) {
  switch (stepList(step)) {
    case 0:
      return "first (" + orNone(firstPath) + ")";
    case 1:
      return "second (" + orNone(secondPath) + "), consulted before the first";
    default:
      return "";
  }
}

}  // namespace quibex::tool
