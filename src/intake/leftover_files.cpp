#include "intake/leftover_files.h"

#include <set>

namespace dexweb {

bool LeftoverFiles::Remember(const std::string& folder, const std::string& name) {
  auto stamp = platform::stamp_entry(folder + name);
  if (!stamp) return false;
  auto [noted, added] = files_.try_emplace(folder + name, Noted{*stamp, std::nullopt});
  if (added) return true;
  if (noted->second.stamp == *stamp) return false;
  noted->second = Noted{*stamp, std::nullopt};
  return true;
}

void LeftoverFiles::RememberPendingCopy(const std::string& folder, PendingCopy pending) {
  const std::string key = folder + pending.name;
  const platform::FileStamp stamp = pending.stamp;
  files_[key] = Noted{stamp, std::move(pending)};
}

bool LeftoverFiles::Unchanged(const std::string& folder, const std::string& name) const {
  auto found = files_.find(folder + name);
  if (found == files_.end()) return false;
  auto stamp = platform::stamp_entry(folder + name);
  return stamp && *stamp == found->second.stamp;
}

void LeftoverFiles::KeepOnly(const std::string& folder, const std::vector<std::string>& names) {
  std::set<std::string> present;
  for (const std::string& name : names) present.insert(folder + name);
  std::erase_if(files_, [&](const auto& entry) { return !present.contains(entry.first); });
}

void LeftoverFiles::Forget(const std::string& folder, const std::string& name) { files_.erase(folder + name); }

std::vector<LeftoverFiles::PendingCopy> LeftoverFiles::PendingCopies(const std::string& folder) const {
  std::vector<PendingCopy> out;
  for (const auto& [key, noted] : files_)
    if (noted.pending && key == folder + noted.pending->name) out.push_back(*noted.pending);
  return out;
}

}  // namespace dexweb
