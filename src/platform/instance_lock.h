#pragma once
// The single-instance test: an exclusive flock on a lock file named after the executable's
// real path, in $XDG_RUNTIME_DIR, else /run/lock, else /tmp. Held while the object lives.

#include <string>

#include "platform/fd.h"

namespace dexweb::platform {

class InstanceLock {
 public:
  // Tries to take the lock for the executable at exe_path; acquired() tells the outcome.
  explicit InstanceLock(const std::string& exe_path);
  bool acquired() const { return static_cast<bool>(fd_); }
  const std::string& path() const { return path_; }

 private:
  Fd fd_;
  std::string path_;
};

}  // namespace dexweb::platform
