#pragma once
// Files that must not meet another process's files: a private temporary folder, names
// created exclusively, and copies that appear whole or not at all and never replace
// anything.

#include <string>
#include <string_view>

namespace dexweb::platform {

// Creates path with the bytes; fails (raising error 58, file already exists) when any entry
// already has that name, a link included. Mode 0600. Other failures raise the file error.
void create_exclusive(const std::string& path, std::string_view bytes);

// Writes the bytes under a temporary name in path's folder, flushes them to disk and links
// the complete file to path, which it never replaces: an existing path raises error 58 and
// leaves it as it was. Mode 0640. On any failure nothing is left behind under either name.
void write_new_file(const std::string& path, std::string_view bytes);
// True for a name that write_new_file's temporary name has: name + ".part" + six letters
// or digits.
bool is_new_file_temporary(std::string_view name);

// A folder only this process's account can use (mode 0700), at a fixed place of the
// caller's: made when missing, and emptied of whatever an earlier run left there, so the
// caller must be the only user of the place (the holder of its home's instance lock). Links
// inside are removed, never followed. Emptied and removed when the object goes.
class PrivateFolder {
 public:
  // Raises the file error when the folder cannot be made, is a link or belongs to another
  // account.
  explicit PrivateFolder(const std::string& path);
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // With a trailing '/'.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace dexweb::platform
