#pragma once
// Folders that other accounts write to, and their entries.
//
// A Folder is opened once and worked through its descriptor: the folder itself is opened
// without following a final link, and every entry is named relative to it, so that a folder
// swapped for a link, or renamed away, between two steps is never followed to another place.
//
// A FolderEntry is an entry of a folder that another account writes (the watched folder),
// opened once and worked from the descriptor: its name is taken literally, a link is never
// followed, a pipe or device never blocks, and a name that comes to point at another file
// between two steps is noticed instead of acted on.
//
// A FolderWatch gives notice of files landing in a folder: a file renamed into it or closed
// after writing there whose name ends with a given suffix (without regard to case). The
// watch runs on the event loop: `landed` runs on the loop's thread once per batch of notices
// read together, however many files the batch names, so a burst of arrivals makes few
// calls. The names are kept for take_landed(), with those of files created there (a hard
// link lands so).

#include <fcntl.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/files.h"

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
  // The opened entry, moved since to the entry name of dir_fd, under its new name: true when
  // that name still names the opened file (its stamp is then taken anew), false, changing
  // nothing, when it names another file or none. Never throws.
  bool follow(int dir_fd, const std::string& name, std::string path);

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

class Folder {
 public:
  // An entry as the folder listing names it, before anything is asked of the entry itself.
  struct Listed {
    std::string name;
    std::uint64_t inode = 0;
    bool maybe_regular = true;  // false when the listing already says it is no plain file
  };

  Folder() = default;
  // Opens path as a folder without following a final link (O_DIRECTORY | O_NOFOLLOW); an
  // empty object with the errno in error when that fails (ELOOP: a link; ENOTDIR: no
  // folder). Never throws.
  static Folder open(const std::string& path, int& error);
  // The subfolder name of parent, never a link; made with mode when missing and create is
  // set. Raises the file error.
  static Folder open_child(const Folder& parent, const std::string& name, bool create, mode_t mode);

  explicit operator bool() const { return static_cast<bool>(fd_); }
  int fd() const { return fd_.get(); }
  // The path it was opened by, ending with '/'.
  const std::string& path() const { return path_; }
  FileIdentity identity() const { return identity_; }
  uid_t owner() const { return owner_; }
  // Where the folder is now, every link above it resolved; empty when that cannot be told.
  std::string real_path() const;

  // Calls visit for each entry whose name ends with suffix (without regard to case), in
  // directory order, until visit returns false. Raises the file error when the folder
  // cannot be listed.
  void walk(std::string_view suffix, const std::function<bool(const Listed&)>& visit) const;
  // The entry name itself (a link is described, not followed); nullopt when it cannot be.
  std::optional<FileStamp> stamp(const std::string& name) const;
  // Moves the entry name to folder `to` as to_name, never replacing an entry there: 0 when
  // moved, else the errno (ENOENT: name is gone; EEXIST: to_name is taken).
  int move(const std::string& name, const Folder& to, const std::string& to_name) const;
  // Unlinks the file name; false when it is gone. Raises other failures.
  bool remove(const std::string& name) const;
  // Removes the empty subfolder name; false when it is not empty, gone or not removable.
  bool remove_folder(const std::string& name) const;

 private:
  Folder(Fd fd, std::string path);

  Fd fd_;
  std::string path_;
  FileIdentity identity_;
  uid_t owner_ = 0;
};

// A file of folder named name, created with an exclusive flock already held (it is made
// under another name, locked, then linked), so that nobody ever sees it unlocked. Raises the
// file error.
Fd create_locked_file(const Folder& folder, const std::string& name);
// The exclusive flock of the existing file name of folder, when nobody holds it and name
// still names the locked file; nullopt otherwise. Never creates the file.
std::optional<Fd> try_lock_file(const Folder& folder, const std::string& name);

// Counting a folder's message files from their names alone.
// How many entries of folder have names ending with suffix (without regard to case), from
// the names alone: no entry is examined, so a large folder costs one pass over its names.
// Raises the file error (52..76) when the folder cannot be listed.
std::size_t count_names(const std::string& folder, std::string_view suffix);

class FolderWatch {
 public:
  // nullptr when the folder cannot be watched (missing, a file system without notices such
  // as many network shares, the user's watch limit reached): the caller falls back on its
  // timer. Never throws.
  static std::unique_ptr<FolderWatch> start(EventLoop& loop, const std::string& folder, std::string_view suffix,
                                            EventLoop::Callback landed);
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  const std::string& folder() const { return folder_; }
  // The folder watched (a final link is never followed): when the path comes to name
  // another folder (the watched one renamed away, a new one made), the watch is stale.
  FileIdentity identity() const { return identity_; }
  // False once the folder went away (deleted, moved, unmounted): no more notices come.
  bool watching() const { return watching_; }

  // The names of the files that landed or were created since the last call (a name may come
  // twice), and whether names were lost (the notice queue overflowed, or more than
  // kKeptNames waited): then only a listing tells what the folder holds.
  struct Landed {
    std::vector<std::string> names;
    bool lost = false;
  };
  Landed take_landed();
  static constexpr std::size_t kKeptNames = 100000;

 private:
  FolderWatch(EventLoop& loop, Fd fd, FileIdentity identity, std::string folder, std::string suffix,
              EventLoop::Callback landed);
  void read_notices();
  void keep_name(std::string_view name, std::uint32_t mask, bool& landed);

  EventLoop& loop_;
  Fd fd_;
  FileIdentity identity_;
  std::string folder_;
  std::string suffix_;
  EventLoop::Callback landed_;
  EventLoop::ReaderId reader_ = 0;
  bool watching_ = true;
  Landed landed_names_;
};

}  // namespace dexweb::platform

namespace dexweb {

// The opened entry's first kReadLimit bytes; false, with empty bytes, when it cannot be read.
bool read_entry(const platform::FolderEntry& entry, std::string& bytes);
// Up to attempts deletions of the opened entry, pausing `pause` seconds after each failure.
// An entry that is gone, or whose name now belongs to another file, counts as deleted (the
// other file is left for its own turn). Never raises.
bool delete_with_retries(const platform::FolderEntry& entry, int attempts, double pause);

}  // namespace dexweb
