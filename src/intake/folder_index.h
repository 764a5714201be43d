#pragma once
// The oldest ".msg" entries of the watched folder by age (modification time, then name), so
// that a poll takes the oldest files of any backlog without listing the folder. One listing
// fills it: at its first use, after the folder watch lost names, and when a poll has gone
// through every entry it holds while the folder held more than it keeps. The names the
// folder watch reports keep it current in between. It keeps the kIndexedFiles oldest entries
// only, so that its memory stays small however large the backlog.

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/folder.h"

namespace dexweb {

inline constexpr std::size_t kIndexedFiles = 10000;

class FolderIndex {
 public:
  // The next use lists the folder again.
  void invalidate() { stale_ = true; }
  // Names the folder watch reported, looked at again at the next use.
  void landed(std::vector<std::string> names);
  // Brought up to date with folder, then visited oldest first until each returns false.
  // True when every ".msg" entry of the folder was visited. Raises RuntimeError when the
  // folder cannot be listed.
  bool visit(const platform::Folder& folder, const std::function<bool(const platform::Folder::Listed&)>& each);
  // An entry the caller found gone.
  void forget(const std::string& name);
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    platform::TimePoint modified;
    std::string name;
    std::uint64_t inode = 0;
    bool regular = true;
    bool operator<(const Entry& o) const { return modified != o.modified ? modified < o.modified : name < o.name; }
  };
  void list(const platform::Folder& folder);
  void look_at(const platform::Folder& folder, const std::string& name);
  void add(Entry entry);

  std::set<Entry> entries_;
  std::unordered_map<std::string, platform::TimePoint> ages_;
  std::vector<std::string> landed_;
  bool stale_ = true;
  bool more_ = false;  // the folder held more entries than kept
};

}  // namespace dexweb
