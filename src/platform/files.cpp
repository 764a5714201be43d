#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb::platform {
namespace {

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

// Logs, bad copies and mail files are for the module's account and its group, never for all.
constexpr mode_t kCreateMode = 0640;

Fd open_or_raise(const std::string& path, int flags, std::string_view what) {
  int fd;
  do fd = ::open(path.c_str(), flags | O_CLOEXEC, kCreateMode);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) raise_file_error(errno, std::string(what) + " " + path);
  return Fd(fd);
}

// The module's file error number for an errno value.
int file_error_number(int e) {
  switch (e) {
    case ENOENT: return err::kFileNotFound;
    case ENOTDIR: return err::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return err::kPathFileAccess;
    case ENOSPC:
    case EDQUOT: return err::kDiskFull;
    case EEXIST:
    case ENOTEMPTY: return err::kFileAlreadyExists;
    case EMFILE:
    case ENFILE: return err::kTooManyFiles;
    case ENAMETOOLONG:
    case EINVAL: return err::kBadFileName;
    case EBUSY:
    case ETXTBSY:
    case EAGAIN: return err::kPermissionDenied;
    case EXDEV: return 74;  // rename across file systems
    default: return err::kInputOutput;
  }
}

void rename_file(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) raise_file_error(errno, "rename " + from);
}

}  // namespace

void Fd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

std::optional<FileIdentity> file_identity(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::string without_slash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::optional<FileIdentity> folder_identity(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::lstat(without_slash(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

TimePoint to_time_point(const std::timespec& ts) {
  using namespace std::chrono;
  return TimePoint{duration_cast<system_clock::duration>(seconds{ts.tv_sec} + nanoseconds{ts.tv_nsec})};
}

void raise_file_error(int e, std::string_view what) {
  throw RuntimeError(file_error_number(e), std::string(std::strerror(e)) + ": " + std::string(what));
}

std::optional<FileInfo> stat_path(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileInfo{S_ISDIR(st.st_mode), S_ISREG(st.st_mode), static_cast<std::uint64_t>(st.st_size),
                  to_time_point(st.st_mtim)};
}

void write_all(int fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) raise_file_error(errno, "write " + path);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string read_file(const std::string& path, std::size_t limit) {
  Fd fd = open_or_raise(path, O_RDONLY | O_NONBLOCK, "open");
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) raise_file_error(errno, "examine " + path);
  if (!S_ISREG(st.st_mode)) raise_file_error(EACCES, "not a plain file: " + path);
  std::string out;
  char buf[65536];
  while (out.size() < limit) {
    ssize_t n = ::read(fd.get(), buf, std::min(sizeof buf, limit - out.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) raise_file_error(errno, "read " + path);
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

std::string read_file_tail(const std::string& path, std::size_t max_bytes) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  const auto size = static_cast<std::size_t>(st.st_size);
  const std::size_t length = size < max_bytes ? size : max_bytes;
  std::string bytes(length, '\0');
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd.get(), bytes.data() + done, length - done, static_cast<off_t>(size - length + done));
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

void append_file(const std::string& path, std::string_view bytes) {
  std::size_t written = 0;
  append_file(path, bytes, written);
}

void append_file(const std::string& path, std::string_view bytes, std::size_t& written) {
  written = 0;
  Fd fd = open_or_raise(path, O_WRONLY | O_CREAT | O_APPEND, "open");
  while (written < bytes.size()) {
    ssize_t n = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) raise_file_error(errno, "write " + path);
    if (n == 0) raise_file_error(EIO, "write " + path);
    written += static_cast<std::size_t>(n);
  }
}

void write_file_atomic(const std::string& path, std::string_view bytes, std::optional<unsigned> mode) {
  std::string tmp = path + ".tmp" + std::to_string(::getpid());
  {
    Fd fd = open_or_raise(tmp, O_WRONLY | O_CREAT | O_TRUNC, "create");
    try {
      if (mode && ::fchmod(fd.get(), static_cast<mode_t>(*mode)) != 0) raise_file_error(errno, "chmod " + tmp);
      write_all(fd.get(), bytes, tmp);
      if (::fsync(fd.get()) != 0) raise_file_error(errno, "fsync " + tmp);
    } catch (...) {
      ::unlink(tmp.c_str());
      throw;
    }
  }
  rename_file(tmp, path);
}

bool is_atomic_write_temporary(std::string_view name) {
  const std::size_t tmp = name.rfind(".tmp");
  if (tmp == std::string_view::npos || tmp + 4 == name.size()) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(tmp + 4), name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

void remove_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) raise_file_error(errno, "delete " + path);
}

void make_dirs(const std::string& path) {
  std::string partial;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!partial.empty() && ::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
        raise_file_error(errno, "create folder " + partial);
    }
    if (i < path.size()) partial += path[i];
  }
}

std::vector<DirEntry> list_files(const std::string& folder, std::string_view suffix) {
  Dir dir(::opendir(folder.c_str()));
  if (!dir) raise_file_error(errno, "list " + folder);
  std::vector<DirEntry> out;
  while (dirent* e = ::readdir(dir.get())) {
    std::string name = e->d_name;
    if (!text::iends_with(name, suffix)) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    out.push_back({name, to_time_point(st.st_mtim), S_ISREG(st.st_mode)});
  }
  return out;
}

std::vector<std::string> remove_files_before(const std::string& folder, std::string_view suffix,
                                             const std::function<bool(std::string_view)>& matches,
                                             TimePoint before, bool dry_run) {
  if (!stat_path(folder)) return {};
  std::vector<std::pair<TimePoint, std::string>> old;
  for (const DirEntry& entry : list_files(folder, suffix))
    if (entry.regular && entry.modified < before && (!matches || matches(entry.name)))
      old.emplace_back(entry.modified, folder + entry.name);
  std::sort(old.begin(), old.end());
  std::vector<std::string> paths;
  for (auto& [modified, path] : old) {
    if (!dry_run) remove_file(path);
    paths.push_back(std::move(path));
  }
  return paths;
}

std::string resolve_name_nocase(const std::string& folder, const std::string& name) {
  if (stat_path(folder + name)) return folder + name;
  Dir dir(::opendir(folder.c_str()));
  if (dir)
    while (dirent* e = ::readdir(dir.get()))
      if (text::iequals(e->d_name, name)) return folder + e->d_name;
  return folder + name;
}

std::string host_name() {
  char buf[HOST_NAME_MAX + 1] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return {};
  return buf;
}

std::string executable_path() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

bool rename_no_replace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL) raise_file_error(errno, "rename " + from);
  // The file system has no no-replace rename: link() fails on an existing target as well.
  if (::link(from.c_str(), to.c_str()) != 0) {
    if (errno == EEXIST) return false;
    raise_file_error(errno, "rename " + from);
  }
  if (::unlink(from.c_str()) != 0) raise_file_error(errno, "delete " + from);
  return true;
}

}  // namespace dexweb::platform

namespace dexweb {
namespace {

// Runs the step and reports whether it finished without a RuntimeError.
template <typename Step>
bool succeeds(Step&& step) {
  try {
    step();
    return true;
  } catch (const RuntimeError&) {
    return false;
  }
}

}  // namespace

bool is_file(const std::string& path) {
  auto info = platform::stat_path(path);
  return info && !info->is_dir;
}

bool is_dir(const std::string& path) {
  auto info = platform::stat_path(path);
  return info && info->is_dir;
}

bool read_whole_file(const std::string& path, std::string& out, std::size_t limit) {
  out.clear();
  std::string bytes;
  if (!succeeds([&] { bytes = platform::read_file(path, limit); })) return false;
  out = text::decode_bytes(bytes);
  return true;
}

bool ensure_folder(const std::string& path) {
  if (is_dir(path)) return true;
  return succeeds([&] { platform::make_dirs(path); }) && is_dir(path);
}

}  // namespace dexweb
