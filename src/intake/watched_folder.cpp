#include "intake/watched_folder.h"

#include <cerrno>

#include "intake/internal/intake_log.h"

namespace dexweb {

void WatchedFolder::refuse(const std::string& text) {
  if (text == refused_) return;
  refused_ = text;
  warn_general(text);
}

platform::Folder WatchedFolder::open(const std::string& path, bool first_poll) {
  if (path != path_) {
    path_ = path;
    real_.clear();
    refused_.clear();
  }
  int error = 0;
  platform::Folder folder = platform::Folder::open(path, error);
  if (error == ELOOP) {
    refuse("The watched folder is a link, not a folder, and is left alone: " + path);
    return {};
  }
  if (!folder) {
    if (first_poll) warn_general("Unable to access folder: " + path);
    return {};
  }
  const std::string real = folder.real_path();
  if (real_.empty()) real_ = real;
  if (real != real_) {
    refuse("The watched folder now leads to " + real + " instead of " + real_ + " and is left alone: " + path);
    return {};
  }
  refused_.clear();
  return folder;
}

}  // namespace dexweb
