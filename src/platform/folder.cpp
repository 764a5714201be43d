#include "platform/folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/files.h"
#include "util/text.h"

namespace dexweb::platform {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

bool has_suffix(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() && text::iequals(name.substr(name.size() - suffix.size()), suffix);
}

std::string with_slash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

}  // namespace

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
    if (name == "." || name == ".." || !has_suffix(name, suffix)) continue;
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

}  // namespace dexweb::platform
