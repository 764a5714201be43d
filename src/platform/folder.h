#pragma once
// A folder opened once and worked through its descriptor: the folder itself is opened
// without following a final link, and every entry is named relative to it, so that a folder
// swapped for a link, or renamed away, between two steps is never followed to another place.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/fd.h"
#include "platform/file_identity.h"
#include "platform/folder_entry.h"

namespace dexweb::platform {

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

}  // namespace dexweb::platform
