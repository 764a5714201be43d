#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

#include "platform/files.h"

namespace dexweb::platform {
namespace {

std::string lock_folder() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && *xdg && ::access(xdg, W_OK) == 0) return xdg;
  if (::access("/run/lock", W_OK) == 0) return "/run/lock";
  return "/tmp";
}

// The executable's real path made into one file name: slashes become underscores, and a
// hash keeps two long paths that share their tail apart.
std::string lock_name(const std::string& exe_path) {
  std::string name;
  for (char c : exe_path) name += (c == '/') ? '_' : c;
  if (name.size() > 180) name = name.substr(name.size() - 180);
  return "dexweb" + name + "." + std::to_string(std::hash<std::string>{}(exe_path) % 1000000) + ".lock";
}

}  // namespace

InstanceLock::InstanceLock(const std::string& exe_path)
    : path_(lock_folder() + "/" + lock_name(exe_path)) {
  Fd fd(::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (fd && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) fd_ = std::move(fd);
}

}  // namespace dexweb::platform
