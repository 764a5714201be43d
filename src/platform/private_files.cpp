#include "platform/private_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/fd.h"
#include "platform/files.h"

namespace dexweb::platform {
namespace {

Fd create_new(const std::string& path, mode_t mode) {
  int fd;
  do fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) raise_file_error(errno, "create " + path);
  return Fd(fd);
}

void write_bytes(const Fd& fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd.get(), bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) raise_file_error(errno, "write " + path);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Writes the bytes to a file just created; the file is removed again when that fails.
void fill(Fd fd, const std::string& path, std::string_view bytes, bool durable) {
  try {
    write_bytes(fd, bytes, path);
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

}  // namespace dexweb::platform
