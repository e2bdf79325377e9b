// Words for the engine's decisions: which list and which container a
// DecisionStep stands for, as the explanations of "check" print them.
#ifndef QUIBEX_TOOLS_QUIBEX_DECISION_TEXT_H_
#define QUIBEX_TOOLS_QUIBEX_DECISION_TEXT_H_

#include <string>

#include "engine/filter_engine_impl.h"

namespace quibex::tool {

// The list a step belongs to: 0 (first file), 1 (second file), or -1 for
// kNone.
int stepList(DecisionStep step);

// True for the four exception containers.
bool stepIsException(DecisionStep step);

// True for the four domain-keyed containers.
bool stepIsDomainKeyed(DecisionStep step);

// The engine's name of the container, e.g. "blockingByDomain1"; "" for
// kNone.
const char* stepMemberName(DecisionStep step);

// A sentence fragment naming the container, e.g. "blocking rules filed
// under the domain key "ads.example.net" (blockingByDomain0)".
std::string describeContainer(DecisionStep step, const std::string& key);

// The list of a step with its file, e.g. "second (lists/second.txt),
// consulted before the first". firstPath and secondPath are the files of
// list 0 and list 1.
std::string describeList(DecisionStep step, const std::string& firstPath,
                         const std::string& secondPath);

}  // namespace quibex::tool

#endif  // QUIBEX_TOOLS_QUIBEX_DECISION_TEXT_H_
