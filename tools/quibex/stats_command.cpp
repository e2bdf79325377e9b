// The "stats" command: how long the given files take to load, how many
// rules each container holds, and the memory of the process afterwards.
#include <cstdio>
#include <string>

#include "tools/quibex/command.h"
#include "tools/quibex/decision_text.h"
#include "tools/quibex/json_output.h"
#include "tools/quibex/output.h"
#include "measure/process_memory.h"
#include "tools/quibex/rule_files.h"

namespace quibex::tool {
namespace {

constexpr char kHelp[] =
    "usage: quibex stats [--first FILE] [--second FILE] [--json]\n"
    "\n"
    "Loads the files and prints the load time, the number of rules in each\n"
    "of the engine's containers, the memory of the engine's indexes and\n"
    "the resident memory of the process before and after loading.\n"
    "\n"
    "options:\n"
    "  --first FILE   the first rule list\n"
    "  --second FILE  the second rule list\n"
    "  --json         the same figures as one JSON object, sizes in bytes,\n"
    "                 rules per container by the engine's member names\n";

// One row of the container table: the second list's count, then the
// first's, since the second list's containers are consulted first.
void writeRow(const char* label, size_t second, size_t first) {
  char line[128];
  std::snprintf(line, sizeof line, "  %-36s %11zu %11zu\n", label, second,
                first);
  writeOut(line);
}

// A labelled value in the column of the table's numbers.
void writeValue(const char* label, const std::string& value) {
  char line[160];
  std::snprintf(line, sizeof line, "  %-36s %11s\n", label, value.c_str());
  writeOut(line);
}

// The container of the first list that holds what container holds for
// the second.
const RequestContainer& sameContainerOfFirstList(
    const RequestContainer& container) {
  for (const RequestContainer& other : FilterEngineImpl::kRequestContainers) {
    if (other.list == 0 && other.kind == container.kind &&
        other.keyed == container.keyed &&
        other.elemHide == container.elemHide) {
      return other;
    }
  }
  return container;
}

std::string bytes(size_t count) {
  return formatBytes(static_cast<double>(count));
}

int run(const Command& self, const ParsedArguments& args) {
  const size_t residentBefore = residentBytes();
  LoadedRules rules;
  if (const int code = loadFromArguments(self, args, &rules); code != kExitOk) {
    return code;
  }
  const EngineStats s = rules.engine().stats();
  const size_t residentAfter = residentBytes();
  if (args.flag("--json")) {
    nlohmann::json containers = nlohmann::json::object();
    for (const RequestContainer& container :
         FilterEngineImpl::kRequestContainers) {
      containers[container.member] = s.rulesIn(container.id);
    }
    writeJsonLine({{"firstList", rules.path(0)},
                   {"secondList", rules.path(1)},
                   {"loadSeconds", rules.loadSeconds()},
                   {"requestRules", s.requestRules},
                   {"containers", containers},
                   {"elemHideRules", s.elemHideRules},
                   {"elemHideSites", s.elemHideKeys},
                   {"indexBytes", s.indexBytes},
                   {"residentBytesBefore", residentBefore},
                   {"residentBytesAfter", residentAfter},
                   {"peakResidentBytes", peakResidentBytes()}});
    return kExitOk;
  }
  writeField("first list", orNone(rules.path(0)), 11, 0);
  writeField("second list", orNone(rules.path(1)), 11, 0);
  writeField("load time", formatDuration(rules.loadSeconds()), 11, 0);
  writeOut(
      "\nrequest rules                          second list  first list\n");
  for (const RequestContainer& container :
       FilterEngineImpl::kRequestContainers) {
    const std::string label = containerLabel(container);
    if (container.list == kBothLists) {
      writeValue(label.c_str(),
                 std::to_string(s.rulesIn(container.id)) + " (both lists)");
    } else if (container.list == 1) {
      writeRow(label.c_str(), s.rulesIn(container.id),
               s.rulesIn(sameContainerOfFirstList(container).id));
    }
  }
  writeValue("all request rules", std::to_string(s.requestRules));
  writeOut("\nelement-hiding rules\n");
  writeValue("all element-hiding rules", std::to_string(s.elemHideRules));
  writeValue("sites they are filed under", std::to_string(s.elemHideKeys));
  writeOut("\nmemory\n");
  writeValue("rule indexes", bytes(s.indexBytes));
  writeValue("resident before loading", bytes(residentBefore));
  writeValue("resident after loading", bytes(residentAfter));
  writeValue("peak resident", bytes(peakResidentBytes()));
  return kExitOk;
}

}  // namespace

const Command& statsCommand() {
  static const Command command{
      "stats", "load time, rules per container and memory of the given lists",
      kHelp,   {kFirstOption, kSecondOption, {"--json", false}},
      0,       0,
      &run};
  return command;
}

}  // namespace quibex::tool
