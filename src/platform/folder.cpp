#include "platform/folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb::platform {
namespace {

FileStamp stamp_of(const struct stat& st) {
  return FileStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                   static_cast<std::uint64_t>(st.st_size), to_time_point(st.st_mtim), to_time_point(st.st_ctim),
                   S_ISREG(st.st_mode)};
}

bool same_file(const FileStamp& a, const FileStamp& b) { return a.device == b.device && a.inode == b.inode; }

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

std::string with_slash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

}  // namespace

std::optional<FileStamp> stamp_entry(const std::string& path) { return stamp_entry_at(AT_FDCWD, path); }

std::optional<FileStamp> stamp_entry_at(int dir_fd, const std::string& name) {
  struct stat st {};
  if (name.empty() || ::fstatat(dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  return stamp_of(st);
}

FolderEntry::FolderEntry(std::string path, Status status, int error, Fd fd, FileStamp stamp)
    : path_(std::move(path)), status_(status), error_(error), fd_(std::move(fd)), stamp_(stamp) {}

FolderEntry FolderEntry::open(const std::string& path) { return open_at(AT_FDCWD, path, path); }

FolderEntry FolderEntry::open_at(int dir_fd, const std::string& name, std::string path) {
  auto made = [&](Status status, int error, Fd fd, FileStamp stamp) {
    FolderEntry entry(std::move(path), status, error, std::move(fd), stamp);
    entry.dir_fd_ = dir_fd;
    entry.name_ = name;
    return entry;
  };
  int raw;
  do raw = ::openat(dir_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  while (raw < 0 && errno == EINTR);
  if (raw < 0) {
    const int e = errno;
    if (e == ENOENT) return made(Status::Gone, e, Fd(), {});
    // ELOOP: the name is a link. The open itself cannot tell a link from other refusals on
    // every file system, so the entry is examined without following it.
    auto seen = stamp_entry_at(dir_fd, name);
    if (e == ELOOP || (seen && !seen->regular)) return made(Status::NotRegular, e, Fd(), {});
    return made(Status::Failed, e, Fd(), {});
  }
  Fd fd(raw);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return made(Status::Failed, errno, Fd(), {});
  if (!S_ISREG(st.st_mode)) return made(Status::NotRegular, 0, Fd(), {});
  return made(Status::Opened, 0, std::move(fd), stamp_of(st));
}

bool FolderEntry::follow(int dir_fd, const std::string& name, std::string path) {
  const auto now = fd_ ? stamp_entry_at(dir_fd, name) : std::nullopt;
  if (!now || !same_file(*now, stamp_)) return false;
  dir_fd_ = dir_fd;
  name_ = name;
  path_ = std::move(path);
  stamp_ = *now;
  return true;
}

std::optional<FileStamp> FolderEntry::current_stamp() const {
  struct stat st {};
  if (!fd_ || ::fstat(fd_.get(), &st) != 0) return std::nullopt;
  return stamp_of(st);
}

WriterState FolderEntry::writer() const {
  if (!fd_) return WriterState::Closed;
  if (::fcntl(fd_.get(), F_SETLEASE, F_RDLCK) == 0) {
    ::fcntl(fd_.get(), F_SETLEASE, F_UNLCK);
    return WriterState::Closed;
  }
  if (errno == EAGAIN) return WriterState::Open;
  // Not the file's owner and no CAP_LEASE (or no leases on this file system): a writer's
  // flock still shows, a plain writer does not.
  if (::flock(fd_.get(), LOCK_SH | LOCK_NB) != 0) return errno == EWOULDBLOCK ? WriterState::Open : WriterState::Unknown;
  ::flock(fd_.get(), LOCK_UN);
  return WriterState::Unknown;
}

std::string FolderEntry::read(std::size_t limit) const {
  if (!fd_) raise_file_error(EBADF, "read " + path_);
  std::string out;
  char buf[65536];
  while (out.size() < limit) {
    const std::size_t want = std::min(sizeof buf, limit - out.size());
    ssize_t n = ::pread(fd_.get(), buf, want, static_cast<off_t>(out.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) raise_file_error(errno, "read " + path_);
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
    // A read that stops short where fstat saw the end has met the end: no need to ask again.
    if (static_cast<std::size_t>(n) < want && out.size() == stamp_.size) break;
  }
  return out;
}

bool FolderEntry::remove_if_same() const {
  auto now = stamp_entry_at(dir_fd_, name_);
  if (!now || !same_file(*now, stamp_)) return false;
  if (::unlinkat(dir_fd_, name_.c_str(), 0) != 0) {
    if (errno == ENOENT) return false;
    raise_file_error(errno, "delete " + path_);
  }
  return true;
}

Folder::Folder(Fd fd, std::string path) : fd_(std::move(fd)), path_(with_slash(std::move(path))) {
  struct stat st {};
  if (::fstat(fd_.get(), &st) == 0) {
    identity_ = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    owner_ = st.st_uid;
  }
}

Folder Folder::open(const std::string& path, int& error) {
  int raw;
  // A trailing '/' would make the kernel follow a final link after all.
  do raw = ::open(without_slash(path).c_str(), kFolderFlags);
  while (raw < 0 && errno == EINTR);
  error = raw < 0 ? errno : 0;
  // With O_DIRECTORY a link may be reported as no folder: ELOOP tells it apart.
  struct stat st {};
  if (error == ENOTDIR && ::lstat(without_slash(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) error = ELOOP;
  return raw < 0 ? Folder() : Folder(Fd(raw), path);
}

Folder Folder::open_child(const Folder& parent, const std::string& name, bool create, mode_t mode) {
  if (create && ::mkdirat(parent.fd(), name.c_str(), mode) != 0 && errno != EEXIST)
    raise_file_error(errno, "create folder " + parent.path() + name);
  const int raw = ::openat(parent.fd(), name.c_str(), kFolderFlags);
  if (raw < 0) raise_file_error(errno, "open folder " + parent.path() + name);
  return Folder(Fd(raw), name == "." ? parent.path() : parent.path() + name);
}

std::string Folder::real_path() const {
  char buf[4096];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd_.get())).c_str(), buf, sizeof buf);
  return n > 0 && static_cast<std::size_t>(n) < sizeof buf ? with_slash(std::string(buf, static_cast<std::size_t>(n)))
                                                            : std::string();
}

void Folder::walk(std::string_view suffix, const std::function<bool(const Listed&)>& visit) const {
  // The listing has a descriptor of its own, so that this one stays usable meanwhile.
  Fd own(::openat(fd_.get(), ".", kFolderFlags));
  if (!own) raise_file_error(errno, "list " + path_);
  std::unique_ptr<DIR, DirCloser> dir(::fdopendir(own.get()));
  if (!dir) raise_file_error(errno, "list " + path_);
  own.release();
  Listed listed;
  while (dirent* e = ::readdir(dir.get())) {
    const std::string_view name(e->d_name);
    if (name == "." || name == ".." || !text::iends_with(name, suffix)) continue;
    listed.name.assign(name);
    listed.inode = e->d_ino;
    listed.maybe_regular = e->d_type == DT_REG || e->d_type == DT_UNKNOWN;
    if (!visit(listed)) return;
  }
}

std::optional<FileStamp> Folder::stamp(const std::string& name) const { return stamp_entry_at(fd_.get(), name); }

int Folder::move(const std::string& name, const Folder& to, const std::string& to_name) const {
  if (::renameat2(fd_.get(), name.c_str(), to.fd(), to_name.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL) return errno;
  // A file system without the no-replace rename: a link, then the unlink of the old name.
  if (::linkat(fd_.get(), name.c_str(), to.fd(), to_name.c_str(), 0) != 0) return errno;
  ::unlinkat(fd_.get(), name.c_str(), 0);
  return 0;
}

bool Folder::remove(const std::string& name) const {
  if (::unlinkat(fd_.get(), name.c_str(), 0) == 0) return true;
  if (errno == ENOENT) return false;
  raise_file_error(errno, "delete " + path_ + name);
}

bool Folder::remove_folder(const std::string& name) const {
  return ::unlinkat(fd_.get(), name.c_str(), AT_REMOVEDIR) == 0;
}

Fd create_locked_file(const Folder& folder, const std::string& name) {
  const std::string staged = name + ".new" + std::to_string(::getpid());
  Fd fd(::openat(folder.fd(), staged.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) raise_file_error(errno, "create " + folder.path() + staged);
  const bool linked = ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 &&
                      ::linkat(folder.fd(), staged.c_str(), folder.fd(), name.c_str(), 0) == 0;
  const int e = errno;
  ::unlinkat(folder.fd(), staged.c_str(), 0);
  if (!linked) raise_file_error(e, "create " + folder.path() + name);
  return fd;
}

std::optional<Fd> try_lock_file(const Folder& folder, const std::string& name) {
  Fd fd(::openat(folder.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return std::nullopt;
  // The holder that took it just before may have removed it since: then it names nothing.
  struct stat held {}, named {};
  if (::fstat(fd.get(), &held) != 0 || ::fstatat(folder.fd(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      held.st_ino != named.st_ino || held.st_dev != named.st_dev)
    return std::nullopt;
  return fd;
}

std::size_t count_names(const std::string& folder, std::string_view suffix) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) raise_file_error(errno, "list " + folder);
  std::size_t count = 0;
  while (dirent* e = ::readdir(dir.get()))
    if (text::iends_with(e->d_name, suffix)) ++count;
  return count;
}

}  // namespace dexweb::platform

namespace dexweb {

bool read_entry(const platform::FolderEntry& entry, std::string& bytes) {
  bytes.clear();
  if (entry.status() != platform::FolderEntry::Status::Opened) return false;
  try {
    bytes = entry.read(kReadLimit);
    return true;
  } catch (const RuntimeError&) {
    return false;
  }
}

bool delete_with_retries(const platform::FolderEntry& entry, int attempts, double pause) {
  for (int i = 0; i < attempts; ++i) {
    try {
      entry.remove_if_same();
      return true;
    } catch (const RuntimeError&) {
      // Tried again after the pause; after the last attempt the caller learns of it from false.
    }
    // A stop cuts the pauses short, not the attempts: the file's work is done.
    platform::wait_unless_stopped(pause);
  }
  return false;
}

}  // namespace dexweb
