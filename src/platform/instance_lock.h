#pragma once
// One module per gateway home: an exclusive flock on a lock file keyed by the real path of
// the home's registry file, whatever the caller's environment or user. The lock lives in a
// folder only the module's account can write (the service manager's runtime folder of the
// unit, else a folder in the home's data folder), so no other local user can create or hold
// it. The holder writes its pid into the file, so that tools can tell who runs the home.

#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/fd.h"

namespace dexweb::platform {

// Where the lock of a home lives: $RUNTIME_DIRECTORY (set by systemd's RuntimeDirectory=)
// when set, else db_dir + "lock/", else the registry file's folder + "lock/".
std::string instance_lock_folder(const std::string& db_dir, const std::string& registry_path);

class InstanceLock {
 public:
  enum class State {
    Acquired,      // this process holds the lock until the object goes
    HeldElsewhere, // another process holds it
    CannotOpen,    // the folder or the file could not be made or opened (see error())
  };

  // Creates folder (mode 0700) when missing and tries to take the lock of the home whose
  // registry file is registry_path. Never throws.
  InstanceLock(const std::string& folder, const std::string& registry_path);

  State state() const { return state_; }
  bool acquired() const { return state_ == State::Acquired; }
  // The errno of CannotOpen.
  int error() const { return error_; }
  const std::string& path() const { return path_; }

  // Who holds the lock at folder for registry_path: the pid of its holder; no pid and no
  // error when nobody does (or there is no lock); no pid and the errno when the folder or the
  // lock file cannot be examined, so that nobody can tell.
  struct Holder {
    std::optional<pid_t> pid;
    int error = 0;
  };
  static Holder holder(const std::string& folder, const std::string& registry_path);
  // The small state file that the holder keeps beside the lock file (its last poll).
  static std::string state_path(const std::string& folder, const std::string& registry_path);

 private:
  Fd fd_;
  std::string path_;
  State state_ = State::CannotOpen;
  int error_ = 0;
};

}  // namespace dexweb::platform
