#include "platform/private_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <memory>

namespace dexweb::platform {
namespace {

Fd create_new(const std::string& path, mode_t mode) {
  int fd;
  do fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) raise_file_error(errno, "create " + path);
  return Fd(fd);
}

// Writes the bytes to a file just created; the file is removed again when that fails.
void fill(Fd fd, const std::string& path, std::string_view bytes, bool durable) {
  try {
    write_all(fd.get(), bytes, path);
    if (durable && ::fsync(fd.get()) != 0) raise_file_error(errno, "fsync " + path);
  } catch (...) {
    ::unlink(path.c_str());
    throw;
  }
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

// Removes everything below the open folder; a link is removed, never followed.
void empty_folder(int dir_fd) {
  const int own = ::dup(dir_fd);
  if (own < 0) return;
  std::unique_ptr<DIR, DirCloser> dir(::fdopendir(own));
  if (!dir) {
    ::close(own);
    return;
  }
  while (dirent* e = ::readdir(dir.get())) {
    const std::string_view name(e->d_name);
    if (name == "." || name == ".." || ::unlinkat(dir_fd, e->d_name, 0) == 0) continue;
    if (Fd sub{::openat(dir_fd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)}) {
      empty_folder(sub.get());
      ::unlinkat(dir_fd, e->d_name, AT_REMOVEDIR);
    }
  }
}

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

void create_exclusive(const std::string& path, std::string_view bytes) {
  fill(create_new(path, 0600), path, bytes, false);
}

void write_new_file(const std::string& path, std::string_view bytes) {
  std::string tmp = path + ".partXXXXXX";
  const int raw = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (raw < 0) raise_file_error(errno, "create " + tmp);
  Fd fd(raw);
  if (::fchmod(fd.get(), 0640) != 0) {
    const int e = errno;
    ::unlink(tmp.c_str());
    raise_file_error(e, "create " + tmp);
  }
  fill(std::move(fd), tmp, bytes, true);
  const int linked = ::link(tmp.c_str(), path.c_str());
  const int e = errno;
  ::unlink(tmp.c_str());
  if (linked != 0) raise_file_error(e, "create " + path);
}

bool is_new_file_temporary(std::string_view name) {
  constexpr std::string_view kPart = ".part";
  constexpr std::size_t kRandom = 6;  // mkostemp's XXXXXX
  if (name.size() < kPart.size() + kRandom) return false;
  const std::string_view tail = name.substr(name.size() - kRandom);
  return name.substr(name.size() - kRandom - kPart.size(), kPart.size()) == kPart &&
         std::all_of(tail.begin(), tail.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

PrivateFolder::PrivateFolder(const std::string& path) : path_(path) {
  if (path_.empty() || path_.back() != '/') path_ += '/';
  if (::mkdir(path_.c_str(), 0700) != 0 && errno != EEXIST) raise_file_error(errno, "create folder " + path_);
  Fd fd(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) raise_file_error(errno, "open folder " + path_);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) raise_file_error(errno, "examine folder " + path_);
  if (st.st_uid != ::geteuid()) raise_file_error(EACCES, "use folder " + path_ + " of another account");
  if (::fchmod(fd.get(), 0700) != 0) raise_file_error(errno, "protect folder " + path_);
  empty_folder(fd.get());
}

PrivateFolder::~PrivateFolder() {
  if (Fd fd{::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)}) empty_folder(fd.get());
  ::rmdir(path_.c_str());
}

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
