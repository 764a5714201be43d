#pragma once
// What belongs to this process alone: the instance lock of a gateway home, a private
// temporary folder, and files that must not meet another process's files (names created
// exclusively, and copies that appear whole or not at all and never replace anything).
//
// One module per gateway home: an exclusive flock on a fixed file in the home's data folder
// (DB_Dir), whatever the caller's environment, user or registry file, so that a service and
// a module started by hand, or two registry files naming one data folder, cannot both run.
// The folder is made with mode 0700, so no other local user can create or hold the lock.
// The holder writes its pid into the file, so that tools can tell who runs the home.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

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

// Creates path with the bytes; fails (raising error 58, file already exists) when any entry
// already has that name, a link included. Mode 0600. Other failures raise the file error.
void create_exclusive(const std::string& path, std::string_view bytes);

// Writes the bytes under a temporary name in path's folder, flushes them to disk and links
// the complete file to path, which it never replaces: an existing path raises error 58 and
// leaves it as it was. Mode 0640. On any failure nothing is left behind under either name.
void write_new_file(const std::string& path, std::string_view bytes);
// True for a name that write_new_file's temporary name has: name + ".part" + six letters
// or digits.
bool is_new_file_temporary(std::string_view name);

// A folder only this process's account can use (mode 0700), at a fixed place of the
// caller's: made when missing, and emptied of whatever an earlier run left there, so the
// caller must be the only user of the place (the holder of its home's instance lock). Links
// inside are removed, never followed. Emptied and removed when the object goes.
class PrivateFolder {
 public:
  // Raises the file error when the folder cannot be made, is a link or belongs to another
  // account.
  explicit PrivateFolder(const std::string& path);
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // With a trailing '/'.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace dexweb::platform
