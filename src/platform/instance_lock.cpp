#include "platform/instance_lock.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>

namespace dexweb::platform {
namespace {

std::string with_slash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

// The registry file's real path; a missing file is keyed by its real folder and its name.
std::string home_key(const std::string& registry_path) {
  char buf[PATH_MAX];
  if (::realpath(registry_path.c_str(), buf)) return buf;
  const std::size_t slash = registry_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : registry_path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? registry_path : registry_path.substr(slash + 1);
  return ::realpath(folder.c_str(), buf) ? std::string(buf) + "/" + name : registry_path;
}

std::string lock_path(const std::string& folder, const std::string& registry_path) {
  return with_slash(folder) + "dexweb-" + std::to_string(std::hash<std::string>{}(home_key(registry_path))) + ".lock";
}

void write_pid(int fd) {
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) [[maybe_unused]] auto n = ::pwrite(fd, pid.data(), pid.size(), 0);
}

}  // namespace

std::string instance_lock_folder(const std::string& db_dir, const std::string& registry_path) {
  const char* runtime = std::getenv("RUNTIME_DIRECTORY");
  if (runtime && *runtime) return with_slash(runtime);
  if (!db_dir.empty()) return with_slash(db_dir) + "lock/";
  const std::size_t slash = registry_path.rfind('/');
  return (slash == std::string::npos ? std::string("./") : registry_path.substr(0, slash + 1)) + "lock/";
}

InstanceLock::InstanceLock(const std::string& folder, const std::string& registry_path)
    : path_(lock_path(folder, registry_path)) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error_ = errno;
    return;
  }
  // Read access is enough for flock, so a lock file left by a run under another account
  // (root, say) still serves.
  int raw = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (raw < 0 && errno == EACCES) raw = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (raw < 0) {
    error_ = errno;
    return;
  }
  Fd fd(raw);
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    error_ = errno;
    state_ = errno == EWOULDBLOCK ? State::HeldElsewhere : State::CannotOpen;
    return;
  }
  write_pid(fd.get());
  fd_ = std::move(fd);
  state_ = State::Acquired;
}

std::string InstanceLock::state_path(const std::string& folder, const std::string& registry_path) {
  std::string path = lock_path(folder, registry_path);
  return path.substr(0, path.size() - 5) + ".state";
}

InstanceLock::Holder InstanceLock::holder(const std::string& folder, const std::string& registry_path) {
  Fd fd(::open(lock_path(folder, registry_path).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return {std::nullopt, errno == ENOENT || errno == ENOTDIR ? 0 : errno};
  if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return {};
  char buf[32] = {};
  const ssize_t n = ::pread(fd.get(), buf, sizeof buf - 1, 0);
  if (n <= 0) return {};
  const long pid = std::strtol(buf, nullptr, 10);
  return {pid > 0 ? std::optional<pid_t>(static_cast<pid_t>(pid)) : std::nullopt, 0};
}

}  // namespace dexweb::platform
