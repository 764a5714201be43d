#pragma once
// The watched folder as each poll finds it: the folder configured, opened once per poll
// without following a final link, and worked through that descriptor. A link in its place,
// or a folder that now lies elsewhere than where it lay at the run's first look (a link
// above it changed), is refused: one line in the log and on standard error each time the
// refusal changes, and nothing there is touched. A folder renamed away and made anew in
// its place is the configured folder again (the poll cycle watches the new one).
//
// The scan of the watched folder: which message files one poll takes, and in what order,
// passing over the files whose writers may not have finished (WriterWatch), taking the
// oldest first from the folder's index (FolderIndex) where the folder watch keeps one.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/folder.h"
#include "util/nvp_list.h"

namespace dexweb {

class LeftoverFiles;

inline constexpr int kMaxListedFiles = 100;
inline constexpr const char* kMessageFileSuffix = ".msg";

class WatchedFolder {
 public:
  // The folder at path (ending with '/') for this poll; an empty object when it cannot be
  // reached ("Unable to access folder: " logged when first_poll) or is refused.
  platform::Folder open(const std::string& path, bool first_poll);

 private:
  void refuse(const std::string& text);

  std::string path_;     // the configured path of the folder below
  std::string real_;     // where it lay at the first look
  std::string refused_;  // the refusal last reported
};

// Whether a web file's writer has finished. The read-lease test answers at once where the
// module may lease the file (its owner, or CAP_LEASE). For a file of another account it
// cannot lease, the file counts as finished only once two looks at least kQuietSeconds
// apart found it unchanged (size, times, identity); until then it is still being written.
// The daemon keeps one for the whole run, so that the looks span polls.
inline constexpr double kQuietSeconds = 1.0;

class WriterWatch {
 public:
  enum class Writer {
    Done,      // the file is complete
    Holding,   // its writer holds it open: nothing to wait for here
    Settling,  // it may still be written: looked at again after kQuietSeconds
  };
  // What the opened file's writer does. Notes a first look when needed.
  Writer writer(const platform::FolderEntry& entry, const std::string& name);
  // True the first time a busy file is reported (the caller logs it once while it stays busy).
  bool first_report(const std::string& name);
  // The file was read or has left the folder.
  void forget(const std::string& name);
  // Forgets the files that have left folder (one look at each watched file).
  void forget_gone(const std::string& folder);

 private:
  struct Look {
    platform::FileStamp stamp;
    platform::SteadyPoint at;
    bool reported = false;
  };
  std::map<std::string, Look> looks_;
};

// The oldest ".msg" entries of the watched folder by age (modification time, then name), so
// that a poll takes the oldest files of any backlog without listing the folder. One listing
// fills it: at its first use, after the folder watch lost names, and when a poll has gone
// through every entry it holds while the folder held more than it keeps. The names the
// folder watch reports keep it current in between. It keeps the kIndexedFiles oldest entries
// only, so that its memory stays small however large the backlog.
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

// The files a scan passed over because their writers may not have finished.
struct PassedOver {
  int holding = 0;   // held open by their writers: the folder watch tells when they close
  int settling = 0;  // still to be looked at again (writers the module cannot ask)
};

// Fills files (emptied first) with the first kMaxListedFiles ".msg" files of folder whose
// writers have finished, each name with its modification time (local) as the value, then
// sorts them oldest first. The files are the oldest of the folder when index is given (kept
// by the folder watch), else the first in directory order: the folder is read no further.
// The writer test comes first: files still being written are passed over and do not count.
// It waits for a writer that the module cannot ask at most wait_left seconds in all (taken
// from it). Leftover files (worked but not deleted, unreadable, kept for their bad
// copy) are passed over while unchanged and forgotten once gone; links and other entries
// that are no plain files are logged once and never listed, nor looked at again while the
// listing shows them unchanged. Raises RuntimeError when the folder cannot be listed.
PassedOver list_message_files(const platform::Folder& folder, LeftoverFiles& leftovers, WriterWatch& writers,
                              double& wait_left, NVPList& files, FolderIndex* index = nullptr);

}  // namespace dexweb
