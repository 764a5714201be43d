#pragma once
// One module per gateway home: an exclusive flock on a fixed file in the home's data folder
// (DB_Dir), whatever the caller's environment, user or registry file, so that a service and
// a module started by hand, or two registry files naming one data folder, cannot both run.
// The folder is made with mode 0700, so no other local user can create or hold the lock.
// The holder writes its pid into the file, so that tools can tell who runs the home.

#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/fd.h"

namespace dexweb::platform {

// The home's private folder: db_dir + "lock/" ("./lock/" when db_dir is empty). It holds
// the instance lock, the state file, the name sequence and the private temporary folder.
std::string home_private_folder(const std::string& db_dir);

class InstanceLock {
 public:
  enum class State {
    Acquired,      // this process holds the lock until the object goes
    HeldElsewhere, // another process holds it
    CannotOpen,    // the folder or the file could not be made or opened (see error())
  };

  // Creates folder (mode 0700) when missing and tries to take the lock there. Never throws.
  explicit InstanceLock(const std::string& folder);

  State state() const { return state_; }
  bool acquired() const { return state_ == State::Acquired; }
  // The errno of CannotOpen.
  int error() const { return error_; }
  const std::string& path() const { return path_; }

  // Who holds the lock at folder: the pid of its holder; no pid and no error when nobody
  // does (or there is no lock); no pid and the errno when the folder or the lock file cannot
  // be examined, so that nobody can tell.
  struct Holder {
    std::optional<pid_t> pid;
    int error = 0;
  };
  static Holder holder(const std::string& folder);
  // The small state file that the holder keeps beside the lock file (its last poll).
  static std::string state_path(const std::string& folder);

 private:
  Fd fd_;
  std::string path_;
  State state_ = State::CannotOpen;
  int error_ = 0;
};

}  // namespace dexweb::platform
