#include "tools/ctl_options.h"

#include <algorithm>

#include "util/text.h"

namespace dexweb::ctl {

Options::Options(const std::vector<std::string>& args, const std::vector<std::string>& allowed,
                 const std::vector<std::string>& flags) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!args[i].starts_with("--")) {
      words_.push_back(args[i]);
      continue;
    }
    const std::string name = args[i].substr(2);
    if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
      if (!values_.emplace(name, "").second) throw UsageError("option " + args[i] + " given twice");
      continue;
    }
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

std::optional<long> Options::number(const std::string& name, long min, long max) const {
  const auto text = get(name);
  if (!text) return std::nullopt;
  const auto value = text::parse_number(*text);
  if (!value || *value < min || *value > max || *value != static_cast<double>(static_cast<long>(*value)))
    throw UsageError("--" + name + " takes a whole number from " + std::to_string(min) + " to " + std::to_string(max));
  return static_cast<long>(*value);
}

}  // namespace dexweb::ctl
