#pragma once
// Files: the owner of a file descriptor, which file a path names, and the file-system
// primitives. The primitives raise RuntimeError with the module's file error numbers
// (53 not found, 75 access denied, 61 disk full, 57 input/output error, 76 path not found,
// ...) unless a function says it returns false or empty; the helpers at the end never raise.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.h"

namespace dexweb::platform {

// A move-only owner of a file descriptor. close() is never retried on EINTR: on Linux the
// descriptor is released whatever close reports.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) reset(std::exchange(other.fd_, -1));
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Which file a path names right now: the device and inode behind it. Two identities are
// equal only when they name the same file, so a file renamed over the path, or deleted and
// made anew, shows a different identity than the one a program opened earlier.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file at path (a link is followed); nullopt when there is none or it
// cannot be examined (missing, no permission, an unreachable share).
std::optional<FileIdentity> file_identity(const std::string& path);
// path without its trailing '/' (a final link is then not followed); "/" stays.
std::string without_slash(std::string path);
// The identity of the folder at path itself (a final link is not followed); nullopt when
// it is a link, no folder, or cannot be examined.
std::optional<FileIdentity> folder_identity(const std::string& path);

// Raises the RuntimeError for errno_value, naming what failed.
[[noreturn]] void raise_file_error(int errno_value, std::string_view what);

// The time of a file time stamp as stat reports it.
TimePoint to_time_point(const std::timespec& stamp);

struct FileInfo {
  bool is_dir = false;
  bool is_regular = false;  // a plain file (not a folder, pipe, socket or device)
  std::uint64_t size = 0;
  TimePoint modified;
};
// nullopt when the path cannot be examined (missing, no permission, ...).
std::optional<FileInfo> stat_path(const std::string& path);

// Writes all of bytes to the open descriptor fd; raises the file error, naming path.
void write_all(int fd, std::string_view bytes, const std::string& path);
// Reads at most `limit` bytes from the start of a regular file; anything else (a pipe, a
// device) raises error 75 instead of blocking.
std::string read_file(const std::string& path, std::size_t limit = SIZE_MAX);
// The end of a file that may be long (a log file): the last max_bytes of the regular file
// at path (the whole file when shorter); empty text when it is missing, not a regular file
// or unreadable.
std::string read_file_tail(const std::string& path, std::size_t max_bytes);
// Appends bytes, creating the file when needed.
void append_file(const std::string& path, std::string_view bytes);
// The same, setting `written` to how many of the bytes reached the file, also when it then
// raises (a full disk often takes the first part of a write and refuses the rest), so that
// the caller can go on from there instead of writing those bytes a second time.
void append_file(const std::string& path, std::string_view bytes, std::size_t& written);
// Writes the whole file under a temporary name beside it, then renames it into place. With
// a mode, the file gets exactly that mode whatever the process's umask (a file for another
// account to read must not lose its group's bits to a strict umask).
void write_file_atomic(const std::string& path, std::string_view bytes, std::optional<unsigned> mode = std::nullopt);
// True for a name that write_file_atomic's temporary name has (name + ".tmp" + digits).
bool is_atomic_write_temporary(std::string_view name);
// Removes a file; a missing file is not an error.
void remove_file(const std::string& path);
// Creates the folder and its missing parents.
void make_dirs(const std::string& path);

struct DirEntry {
  std::string name;
  TimePoint modified;
  bool regular = false;  // the entry itself is a plain file (a link is not followed)
};
// Entries of folder whose names end with suffix (compared without regard to case), in
// directory order, each described as it is itself: a link is never followed.
std::vector<DirEntry> list_files(const std::string& folder, std::string_view suffix);
// The plain files of folder whose names end with suffix (as list_files) and that matches
// accepts (every one when it is empty), last modified before `before`, oldest first; links
// and other entries are left alone. Each is removed unless dry_run. A missing folder has
// none. Raises the file error when a file cannot be removed.
std::vector<std::string> remove_files_before(const std::string& folder, std::string_view suffix,
                                             const std::function<bool(std::string_view)>& matches,
                                             TimePoint before, bool dry_run = false);

// folder + name when that file exists; otherwise folder + the first entry whose name matches
// without regard to case; otherwise folder + name again (so callers get the usual error).
std::string resolve_name_nocase(const std::string& folder, const std::string& name);

// The computer's host name, or empty text.
std::string host_name();
// The absolute path of the running executable.
std::string executable_path();

// Renames from to to unless to exists: false when it does (nothing is changed), true once
// renamed; any other failure raises the file error. Never replaces a file, also where the
// file system refuses the no-replace rename (a hard link and an unlink stand in for it).
bool rename_no_replace(const std::string& from, const std::string& to);

}  // namespace dexweb::platform

namespace dexweb {

// File helpers on the platform's file primitives, for the module and dexwebctl alike. None
// of them raises: each returns false or empty text when the file system refuses. Names are
// literal: '*' and '?' are ordinary characters of a Linux file name. (The helpers for an
// opened folder entry are in platform/folder.h.)

// The most that is read of a web file; the rest is not read.
inline constexpr std::size_t kReadLimit = std::size_t{1} << 20;

// True when the path exists and is not a folder.
bool is_file(const std::string& path);
// True when the path is a folder.
bool is_dir(const std::string& path);
// Reads the file's first `limit` bytes as text (valid UTF-8 as it is, any other byte as its
// Windows-1252 character). False, with empty text, when the file could not be read.
bool read_whole_file(const std::string& path, std::string& text, std::size_t limit = kReadLimit);
// Creates the folder and its missing parents; true when it exists afterwards.
bool ensure_folder(const std::string& path);

}  // namespace dexweb
