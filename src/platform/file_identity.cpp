#include "platform/file_identity.h"

#include <sys/stat.h>

namespace dexweb::platform {

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

}  // namespace dexweb::platform
