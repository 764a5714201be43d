#include "intake/folder_index.h"

#include <iterator>
#include <utility>

#include "intake/folder_scan.h"

namespace dexweb {

void FolderIndex::landed(std::vector<std::string> names) {
  if (landed_.empty()) landed_ = std::move(names);
  else landed_.insert(landed_.end(), names.begin(), names.end());
}

void FolderIndex::forget(const std::string& name) {
  const auto found = ages_.find(name);
  if (found == ages_.end()) return;
  entries_.erase(Entry{found->second, name});
  ages_.erase(found);
}

void FolderIndex::add(Entry entry) {
  if (entries_.size() >= kIndexedFiles) {
    more_ = true;
    if (!(entry < *entries_.rbegin())) return;
    const auto newest = std::prev(entries_.end());
    ages_.erase(newest->name);
    entries_.erase(newest);
  }
  ages_.emplace(entry.name, entry.modified);
  entries_.insert(std::move(entry));
}

void FolderIndex::look_at(const platform::Folder& folder, const std::string& name) {
  forget(name);
  if (const auto stamp = folder.stamp(name)) add({stamp->modified, name, stamp->inode, stamp->regular});
}

void FolderIndex::list(const platform::Folder& folder) {
  entries_.clear();
  ages_.clear();
  landed_.clear();
  more_ = false;
  folder.walk(kMessageFileSuffix, [&](const platform::Folder::Listed& listed) {
    if (const auto stamp = folder.stamp(listed.name))
      add({stamp->modified, listed.name, listed.inode, listed.maybe_regular && stamp->regular});
    return true;
  });
  stale_ = false;
}

bool FolderIndex::visit(const platform::Folder& folder,
                        const std::function<bool(const platform::Folder::Listed&)>& each) {
  if (stale_) list(folder);
  for (const std::string& name : std::exchange(landed_, {})) look_at(folder, name);
  bool relisted = false;
  auto at = entries_.begin();
  for (;;) {
    for (; at != entries_.end(); ++at)
      if (!each({at->name, at->inode, at->regular})) return false;
    // The entries kept are all seen: the rest of the folder is newer than they were.
    if (!more_ || relisted) return !more_;
    const Entry last = *entries_.rbegin();  // more_ is set only when entries_ is full
    list(folder);
    relisted = true;
    at = entries_.upper_bound(last);
  }
}

}  // namespace dexweb
