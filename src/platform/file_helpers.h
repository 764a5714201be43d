#pragma once
// File helpers on the platform's file primitives, for the module and dexwebctl alike. None
// of them raises: each returns false or empty text when the file system refuses. Names are literal: '*' and '?' are ordinary characters of
// a Linux file name.

#include <cstddef>
#include <string>

namespace dexweb {

namespace platform {
class FolderEntry;
}

// The most that is read of a web file; the rest is not read.
inline constexpr std::size_t kReadLimit = std::size_t{1} << 20;

// True when the path exists and is not a folder.
bool is_file(const std::string& path);
// True when the path is a folder.
bool is_dir(const std::string& path);
// Reads the file's first `limit` bytes as text (valid UTF-8 as it is, any other byte as its
// Windows-1252 character). False, with empty text, when the file could not be read.
bool read_whole_file(const std::string& path, std::string& text, std::size_t limit = kReadLimit);
// The opened entry's first kReadLimit bytes; false, with empty bytes, when it cannot be read.
bool read_entry(const platform::FolderEntry& entry, std::string& bytes);
// Up to attempts deletions of the opened entry, pausing `pause` seconds after each failure.
// An entry that is gone, or whose name now belongs to another file, counts as deleted (the
// other file is left for its own turn).
bool delete_with_retries(const platform::FolderEntry& entry, int attempts, double pause);
// Creates the folder and its missing parents; true when it exists afterwards.
bool ensure_folder(const std::string& path);

}  // namespace dexweb
