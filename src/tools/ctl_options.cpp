#include "tools/ctl_options.h"

#include <algorithm>

namespace dexweb::ctl {

Options::Options(const std::vector<std::string>& args, const std::vector<std::string>& allowed) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!args[i].starts_with("--")) {
      words_.push_back(args[i]);
      continue;
    }
    const std::string name = args[i].substr(2);
    if (std::find(allowed.begin(), allowed.end(), name) == allowed.end())
      throw UsageError("unknown option " + args[i]);
    if (i + 1 == args.size()) throw UsageError("option " + args[i] + " needs a value");
    if (!values_.emplace(name, args[++i]).second) throw UsageError("option " + args[i - 1] + " given twice");
  }
}

std::optional<std::string> Options::get(const std::string& name) const {
  auto found = values_.find(name);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

std::string Options::require(const std::string& name) const {
  auto value = get(name);
  if (!value) throw UsageError("option --" + name + " is required");
  return *value;
}

}  // namespace dexweb::ctl
