#include "intake/leftover_files.h"

#include <algorithm>
#include <utility>

namespace dexweb {
namespace {

bool in_folder(const std::string& key, const std::string& folder) {
  return key.starts_with(folder) && key.find('/', folder.size()) == std::string::npos;
}

}  // namespace

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

void LeftoverFiles::remember_pending_copy(PendingCopy pending) {
  const std::string key = pending.folder + pending.name;
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
    return in_folder(entry.first, folder) && !platform::stamp_entry(entry.first);
  });
}

void LeftoverFiles::forget(const std::string& folder, const std::string& name) { files_.erase(folder + name); }

std::vector<LeftoverFiles::PendingCopy> LeftoverFiles::pending_copies() const {
  std::vector<PendingCopy> out;
  for (const auto& [key, noted] : files_)
    if (noted.pending) out.push_back(*noted.pending);
  return out;
}

bool LeftoverFiles::note_not_regular(const std::string& folder, const std::string& name, std::uint64_t inode) {
  NotRegular& noted = not_regular_[folder + name];
  noted.walk = walk_;
  return std::exchange(noted.inode, inode) != inode;
}

bool LeftoverFiles::known_not_regular(const std::string& folder, const std::string& name, std::uint64_t inode) {
  auto found = not_regular_.find(folder + name);
  if (found == not_regular_.end() || found->second.inode != inode) return false;
  found->second.walk = walk_;
  return true;
}

void LeftoverFiles::walked_whole(const std::string& folder) {
  std::erase_if(not_regular_, [&](const auto& entry) { return in_folder(entry.first, folder) && entry.second.walk != walk_; });
  ++walk_;
}

}  // namespace dexweb
