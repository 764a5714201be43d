#include "intake/leftover_files.h"

#include <set>

#include "platform/files.h"

namespace dexweb {

bool LeftoverFiles::Remember(const std::string& folder, const std::string& name) {
  auto info = platform::stat_path(folder + name);
  if (!info) return false;
  files_[folder + name] = Stamp{info->size, info->modified};
  return true;
}

bool LeftoverFiles::Unchanged(const std::string& folder, const std::string& name) const {
  auto found = files_.find(folder + name);
  if (found == files_.end()) return false;
  auto info = platform::stat_path(folder + name);
  return info && Stamp{info->size, info->modified} == found->second;
}

void LeftoverFiles::KeepOnly(const std::string& folder, const std::vector<std::string>& names) {
  std::set<std::string> present;
  for (const std::string& name : names) present.insert(folder + name);
  std::erase_if(files_, [&](const auto& entry) { return !present.contains(entry.first); });
}

}  // namespace dexweb
