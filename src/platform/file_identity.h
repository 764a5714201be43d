#pragma once
// Which file a path names right now: the device and inode behind it. Two identities are
// equal only when they name the same file, so a file renamed over the path, or deleted and
// made anew, shows a different identity than the one a program opened earlier.

#include <cstdint>
#include <optional>
#include <string>

namespace dexweb::platform {

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

}  // namespace dexweb::platform
