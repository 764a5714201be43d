#include "platform/folder_entry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/files.h"

namespace dexweb::platform {
namespace {

TimePoint time_point_of(const struct timespec& ts) {
  using namespace std::chrono;
  return TimePoint{duration_cast<system_clock::duration>(seconds{ts.tv_sec} + nanoseconds{ts.tv_nsec})};
}

FileStamp stamp_of(const struct stat& st) {
  return FileStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                   static_cast<std::uint64_t>(st.st_size), time_point_of(st.st_mtim), time_point_of(st.st_ctim),
                   S_ISREG(st.st_mode)};
}

bool same_file(const FileStamp& a, const FileStamp& b) { return a.device == b.device && a.inode == b.inode; }

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

}  // namespace dexweb::platform
