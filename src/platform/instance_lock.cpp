#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace dexweb::platform {
namespace {

std::string with_slash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::string lock_path(const std::string& folder) { return with_slash(folder) + "VTXWeb.lock"; }

void write_pid(int fd) {
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) [[maybe_unused]] auto n = ::pwrite(fd, pid.data(), pid.size(), 0);
}

}  // namespace

std::string home_private_folder(const std::string& db_dir) {
  return (db_dir.empty() ? std::string("./") : with_slash(db_dir)) + "lock/";
}

InstanceLock::InstanceLock(const std::string& folder) : path_(lock_path(folder)) {
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

std::string InstanceLock::state_path(const std::string& folder) { return with_slash(folder) + "VTXWeb.state"; }

InstanceLock::Holder InstanceLock::holder(const std::string& folder) {
  Fd fd(::open(lock_path(folder).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return {std::nullopt, errno == ENOENT || errno == ENOTDIR ? 0 : errno};
  if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return {};
  char buf[32] = {};
  const ssize_t n = ::pread(fd.get(), buf, sizeof buf - 1, 0);
  if (n <= 0) return {};
  const long pid = std::strtol(buf, nullptr, 10);
  return {pid > 0 ? std::optional<pid_t>(static_cast<pid_t>(pid)) : std::nullopt, 0};
}

}  // namespace dexweb::platform
