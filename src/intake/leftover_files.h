#pragma once
// Web files that this run is done with but that stay in the watched folder: files worked
// but not deleted (working one again would insert its rows again), files that could not be
// read, entries that are no regular files (links, pipes, ...), and refused files whose bad
// copy could not be made yet. The scan passes them over while they stay as they were (same
// entry, size and times); a file kept for its bad copy is tried again at later polls. The
// daemon owns one for the whole run.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "intake/worked_files_state.h"
#include "platform/folder_entry.h"

namespace dexweb {

class LeftoverFiles {
 public:
  // A refused file kept until its bad copy is made.
  struct PendingCopy {
    std::string name;
    platform::FileStamp stamp;  // the file as it was read
    std::string copy_path;
    bool cut = false;           // only the read limit's bytes go into the copy
  };

  // Notes the entry as it is now (a link is described, not followed); unreadable: the
  // module could not read it. True when it was not already noted as it is now, so that the
  // caller logs it once; false also when it is gone.
  bool remember(const std::string& folder, const std::string& name, bool unreadable = false);
  // Notes a refused file whose bad copy is still to be made.
  void remember_pending_copy(const std::string& folder, PendingCopy pending);
  // True when the entry, described now as `now`, is still as it was noted.
  bool unchanged(const std::string& folder, const std::string& name, const platform::FileStamp& now) const;
  // Forgets the files of folder that have left it (one look at each noted file).
  void forget_gone(const std::string& folder);
  void forget(const std::string& folder, const std::string& name);
  std::vector<PendingCopy> pending_copies(const std::string& folder) const;
  int count() const { return static_cast<int>(files_.size()); }
  // The noted files that could not be read.
  int unreadable_count() const;

  // The run's knowledge of the record of worked files, which outlives the run
  // (intake/worked_files.h).
  WorkedFilesState& worked_state() { return worked_state_; }

 private:
  struct Noted {
    platform::FileStamp stamp;
    std::optional<PendingCopy> pending;
    bool unreadable = false;
  };
  std::map<std::string, Noted> files_;  // keyed by folder + name
  WorkedFilesState worked_state_;
};

}  // namespace dexweb
