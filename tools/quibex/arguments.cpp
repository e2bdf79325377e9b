// Command-line argument parsing; see arguments.h.
#include "tools/quibex/arguments.h"

namespace quibex::tool {
namespace {

const KnownOption* findKnownOption(const std::vector<KnownOption>& known,
                                   std::string_view name) {
  for (const KnownOption& option : known) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

bool isHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

}  // namespace

bool ParsedArguments::flag(std::string_view name) const {
  return flags_.find(name) != flags_.end();
}

bool ParsedArguments::has(std::string_view name) const {
  return values_.find(name) != values_.end();
}

const std::string& ParsedArguments::value(std::string_view name) const {
  static const std::string kEmpty;
  const auto it = values_.find(name);
  return it == values_.end() ? kEmpty : it->second;
}

bool parseArguments(const std::vector<std::string>& args,
                    const std::vector<KnownOption>& known, ParsedArguments* out,
                    std::string* error) {
  ParsedArguments parsed;
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (isHelp(arg)) {
      parsed.help_ = true;
      *out = std::move(parsed);
      return true;
    }
  }
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      parsed.operands_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const KnownOption* option = findKnownOption(known, name);
    if (option == nullptr) {
      *error = "unknown option '" + name + "'";
      return false;
    }
    if (!option->takesValue) {
      if (equals != std::string::npos) {
        *error = "option '" + name + "' takes no value";
        return false;
      }
      if (!parsed.flags_.insert(name).second) {
        *error = "option '" + name + "' given twice";
        return false;
      }
      continue;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      *error = "option '" + name + "' needs a value";
      return false;
    }
    if (!parsed.values_.emplace(name, std::move(value)).second) {
      *error = "option '" + name + "' given twice";
      return false;
    }
  }
  *out = std::move(parsed);
  return true;
}

}  // namespace quibex::tool
