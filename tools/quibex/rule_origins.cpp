// Filling an engine line by line and remembering each rule's line; see
// rule_origins.h.
#include "tools/quibex/rule_origins.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "engine/line_decoder.h"
#include "engine/rule_file_reader.h"
#include "tools/quibex/command.h"
#include "tools/quibex/output.h"
#include "tools/quibex/rule_files.h"

namespace quibex::tool {
TrackedRules::TrackedRules() : engine_(decoder_) {}

bool TrackedRules::load(const std::string& firstPath,
                        const std::string& secondPath, std::string* error) {
  for (const std::string* path : {&firstPath, &secondPath}) {
    if (!path->empty() && !checkReadable(*path, error)) return false;
  }
  paths_[0] = firstPath;
  paths_[1] = secondPath;
  for (int list = 0; list < 2; ++list) {
    if (!paths_[list].empty() && !addFile(paths_[list], list, error)) {
      return false;
    }
  }
  engine_.finishAddingLines();
  origins_.shrink_to_fit();
  byAddress_.resize(origins_.size());
  for (size_t i = 0; i < byAddress_.size(); ++i) {
    byAddress_[i] = static_cast<uint32_t>(i);
  }
  std::sort(
      byAddress_.begin(), byAddress_.end(), [this](uint32_t a, uint32_t b) {
        return std::less<const void*>()(origins_[a].rule, origins_[b].rule);
      });
  return true;
}

bool TrackedRules::addFile(const std::string& path, int list,
                           std::string* error) {
  return readRuleFile(
      path, &decoder_,
      [this, list](size_t number, std::string_view plain) {
        const FiledRule filed = engine_.addTrackedLine(plain, list);
        const void* rule = filed.request != nullptr
                               ? static_cast<const void*>(filed.request)
                               : static_cast<const void*>(filed.elemHide);
        if (rule == nullptr) return;  // a comment or a line dropped
        origins_.push_back(RuleOrigin{rule, static_cast<uint32_t>(number),
                                      static_cast<uint8_t>(list),
                                      filed.elemHide != nullptr});
      },
      [](size_t) {}, error);
}

size_t TrackedRules::indexOf(const void* rule) const {
  const auto found = std::lower_bound(
      byAddress_.begin(), byAddress_.end(), rule,
      [this](uint32_t index, const void* address) {
        return std::less<const void*>()(origins_[index].rule, address);
      });
  if (found == byAddress_.end() || origins_[*found].rule != rule) {
    return kUnknown;
  }
  return *found;
}

std::string TrackedRules::location(size_t index) const {
  const RuleOrigin& origin = origins_[index];
  return printable(path(origin.list)) + ":" + std::to_string(origin.line);
}

std::string TrackedRules::describeAt(const void* rule,
                                     std::string_view text) const {
  const size_t index = indexOf(rule);
  // Every rule the engine answers with was filed through load(); the
  // fallback only keeps a report readable should that ever fail.
  const std::string where =
      index == kUnknown ? std::string("(unknown line)") : location(index);
  return where + ": " + printable(text);
}

std::string TrackedRules::describe(const RequestFilter* rule) const {
  return rule == nullptr ? std::string() : describeAt(rule, rule->text());
}

std::string TrackedRules::describe(const ElemHideFilter* rule) const {
  return rule == nullptr ? std::string() : describeAt(rule, rule->text());
}

std::string TrackedRules::text(size_t index) const {
  const RuleOrigin& origin = origins_[index];
  if (origin.elemHide) {
    return std::string(static_cast<const ElemHideFilter*>(origin.rule)->text());
  }
  return static_cast<const RequestFilter*>(origin.rule)->text();
}

int checkFileOptions(const Command& command, const ParsedArguments& args,
                     const std::vector<const char*>& names) {
  for (const char* name : names) {
    if (args.has(name) && args.value(name).empty()) {
      return usageError(command, std::string("option '") + name +
                                     "' needs a file name, not an empty one");
    }
  }
  return kExitOk;
}

int loadTracked(const std::string& firstPath, const std::string& secondPath,
                TrackedRules* rules) {
  std::string error;
  if (!rules->load(firstPath, secondPath, &error)) return failure(error);
  return kExitOk;
}

}  // namespace quibex::tool
