#pragma once
// Web files that this run is done with but that stay where they are: files worked but not
// deleted (working one again would insert its rows again), files that could not be read,
// and refused files whose bad copy could not be made yet, in the watched folder or in a
// claim folder; and entries of the watched folder that are no regular files (links, pipes,
// ...). The scan passes them over while they stay as they were: a file while its entry,
// size and times are the same, an entry that is no file while the listing shows the same
// inode under its name (it is not even looked at). A file kept for its bad copy is tried
// again at later polls. The daemon owns one for the whole run.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "intake/worked_files_state.h"
#include "platform/folder.h"

namespace dexweb {

class LeftoverFiles {
 public:
  // A refused file kept until its bad copy is made.
  struct PendingCopy {
    std::string folder;         // where it lies, ending with '/'
    std::string name;
    platform::FileStamp stamp;  // the file as it was read
    std::string copy_path;
    bool cut = false;           // only the read limit's bytes go into the copy
    std::string key;            // its record's key
  };

  // Notes the entry as it is now (a link is described, not followed); unreadable: the
  // module could not read it. True when it was not already noted as it is now, so that the
  // caller logs it once; false also when it is gone.
  bool remember(const std::string& folder, const std::string& name, bool unreadable = false);
  // Notes a refused file whose bad copy is still to be made.
  void remember_pending_copy(PendingCopy pending);
  // True when the file, described now as `now`, is still as it was noted.
  bool unchanged(const std::string& folder, const std::string& name, const platform::FileStamp& now) const;
  // Forgets the files of folder that have left it (one look at each noted file).
  void forget_gone(const std::string& folder);
  void forget(const std::string& folder, const std::string& name);
  std::vector<PendingCopy> pending_copies() const;
  int count() const { return static_cast<int>(files_.size()); }
  // The noted files that could not be read.
  int unreadable_count() const;

  // Entries that are no regular files. note_not_regular is true when the entry was not
  // noted under that name and inode yet (the caller logs it once).
  bool note_not_regular(const std::string& folder, const std::string& name, std::uint64_t inode);
  bool known_not_regular(const std::string& folder, const std::string& name, std::uint64_t inode);
  // A walk over the whole folder ended: the entries it did not meet have left it.
  void walked_whole(const std::string& folder);

  // The run's knowledge of the record of worked files, which outlives the run
  // (intake/internal/worked_files.h).
  WorkedFilesState& worked_state() { return worked_state_; }

 private:
  struct Noted {
    platform::FileStamp stamp;
    std::optional<PendingCopy> pending;
    bool unreadable = false;
  };
  struct NotRegular {
    std::uint64_t inode = 0;
    std::uint64_t walk = 0;  // the last walk that met it
  };
  std::map<std::string, Noted> files_;             // keyed by folder + name
  std::map<std::string, NotRegular> not_regular_;  // keyed by folder + name
  std::uint64_t walk_ = 1;
  WorkedFilesState worked_state_;
};

}  // namespace dexweb
