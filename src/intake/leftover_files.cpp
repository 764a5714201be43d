#include "intake/leftover_files.h"

#include <algorithm>

namespace dexweb {

bool LeftoverFiles::remember(const std::string& folder, const std::string& name, bool unreadable) {
  auto stamp = platform::stamp_entry(folder + name);
  if (!stamp) return false;
  auto [noted, added] = files_.try_emplace(folder + name, Noted{*stamp, std::nullopt, unreadable});
  if (added) return true;
  if (noted->second.stamp == *stamp) return false;
  noted->second = Noted{*stamp, std::nullopt, unreadable};
  return true;
}

int LeftoverFiles::unreadable_count() const {
  return static_cast<int>(std::count_if(files_.begin(), files_.end(), [](const auto& f) { return f.second.unreadable; }));
}

void LeftoverFiles::remember_pending_copy(const std::string& folder, PendingCopy pending) {
  const std::string key = folder + pending.name;
  const platform::FileStamp stamp = pending.stamp;
  files_[key] = Noted{stamp, std::move(pending)};
}

bool LeftoverFiles::unchanged(const std::string& folder, const std::string& name,
                              const platform::FileStamp& now) const {
  auto found = files_.find(folder + name);
  return found != files_.end() && now == found->second.stamp;
}

void LeftoverFiles::forget_gone(const std::string& folder) {
  std::erase_if(files_, [&](const auto& entry) {
    return entry.first.starts_with(folder) && entry.first.find('/', folder.size()) == std::string::npos &&
           !platform::stamp_entry(entry.first);
  });
}

void LeftoverFiles::forget(const std::string& folder, const std::string& name) { files_.erase(folder + name); }

std::vector<LeftoverFiles::PendingCopy> LeftoverFiles::pending_copies(const std::string& folder) const {
  std::vector<PendingCopy> out;
  for (const auto& [key, noted] : files_)
    if (noted.pending && key == folder + noted.pending->name) out.push_back(*noted.pending);
  return out;
}

}  // namespace dexweb
