// Words for the engine's request containers and decisions: the label of a
// container, and which list and which container decided a request, as the
// explanations of "check", "stats" and "lint" print them. Every word is
// derived from the engine's container table.
#ifndef QUIBEX_TOOLS_QUIBEX_DECISION_TEXT_H_
#define QUIBEX_TOOLS_QUIBEX_DECISION_TEXT_H_

#include <string>

#include "engine/filter_engine_impl.h"

namespace quibex::tool {

// What a container holds, without its list, e.g. "generic exceptions" or
// "blocking rules filed by domain key".
std::string containerLabel(const RequestContainer& container);

// A sentence fragment naming the container of step, e.g. "blocking rules
// filed under the domain key "ads.example.net" (blockingByDomain0)".
// "" for kNone.
std::string describeContainer(DecisionStep step, const std::string& key);

// The list of a step with its file, e.g. "second (lists/second.txt),
// consulted before the first". firstPath and secondPath are the files of
// list 0 and list 1. "" for kNone and for a container of both lists.
std::string describeList(DecisionStep step, const std::string& firstPath,
                         const std::string& secondPath);

}  // namespace quibex::tool

#endif  // QUIBEX_TOOLS_QUIBEX_DECISION_TEXT_H_
