#pragma once
// An entry of a folder that another account writes (the watched folder), opened once and
// worked from the descriptor: its name is taken literally, a link is never followed, a pipe
// or device never blocks, and a name that comes to point at another file between two steps
// is noticed instead of acted on.

#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/fd.h"

namespace dexweb::platform {

// What identifies an entry and tells whether it changed.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  TimePoint modified;
  TimePoint changed;
  bool regular = false;
  bool operator==(const FileStamp&) const = default;
};

// The entry at path itself (a final link is described, not followed); nullopt when it
// cannot be examined.
std::optional<FileStamp> stamp_entry(const std::string& path);
// The same for the entry name of the open folder dir_fd.
std::optional<FileStamp> stamp_entry_at(int dir_fd, const std::string& name);

// Whether another process still writes a file.
enum class WriterState {
  Closed,    // no process holds it open for writing
  Open,      // a writer holds it (or holds a lock on it)
  Unknown,   // the module may not lease it: only its stamp over time can tell
};

class FolderEntry {
 public:
  enum class Status {
    Opened,      // a regular file, open for reading
    Gone,        // no entry under that name any more
    NotRegular,  // a link, folder, pipe, socket or device: never read
    Failed,      // it exists but could not be opened (see error())
  };

  // Opens path read-only with O_NOFOLLOW | O_NONBLOCK and checks with fstat that it is a
  // regular file. Never throws.
  static FolderEntry open(const std::string& path);
  // The same for the entry name of the open folder dir_fd, which must stay open as long as
  // the entry; path is how messages name it.
  static FolderEntry open_at(int dir_fd, const std::string& name, std::string path);

  Status status() const { return status_; }
  // The errno of a failed open.
  int error() const { return error_; }
  const std::string& path() const { return path_; }
  // The file as fstat described it at open; only meaningful when Opened.
  const FileStamp& stamp() const { return stamp_; }
  // fstat now; nullopt when that fails.
  std::optional<FileStamp> current_stamp() const;

  // Read-lease test on the open descriptor (a lease is refused while any writer holds the
  // file open), with a non-blocking flock test where the lease is not permitted.
  WriterState writer() const;

  // At most limit bytes from the start of the file. Raises the file error (52..76).
  std::string read(std::size_t limit) const;

  // Unlinks its name when that still names the opened file; false, doing nothing, when the
  // name is gone or now names another file. Raises the file error when the unlink fails.
  bool remove_if_same() const;

 private:
  FolderEntry(std::string path, Status status, int error, Fd fd, FileStamp stamp);

  int dir_fd_ = AT_FDCWD;  // or the open folder of name_
  std::string name_;
  std::string path_;
  Status status_;
  int error_ = 0;
  Fd fd_;
  FileStamp stamp_;
};

}  // namespace dexweb::platform
