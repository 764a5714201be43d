#pragma once
// File-system primitives. Failures raise RuntimeError with the module's file error numbers
// (53 not found, 75 access denied, 61 disk full, 57 input/output error, 76 path not found,
// ...) unless a function says it returns false or empty.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace dexweb::platform {

// The module's file error number for an errno value.
int file_error_number(int errno_value);
// Raises the RuntimeError for errno_value, naming what failed.
[[noreturn]] void raise_file_error(int errno_value, std::string_view what);

struct FileInfo {
  bool is_dir = false;
  bool is_regular = false;  // a plain file (not a folder, pipe, socket or device)
  std::uint64_t size = 0;
  TimePoint modified;
};
// nullopt when the path cannot be examined (missing, no permission, ...).
std::optional<FileInfo> stat_path(const std::string& path);

// Reads at most `limit` bytes from the start of a regular file; anything else (a pipe, a
// device) raises error 75 instead of blocking.
std::string read_file(const std::string& path, std::size_t limit = SIZE_MAX);
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
void rename_file(const std::string& from, const std::string& to);
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
