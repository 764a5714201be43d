#include "platform/folder_listing.h"

#include <dirent.h>

#include <cerrno>
#include <memory>

#include "platform/files.h"
#include "util/text.h"

namespace dexweb::platform {
namespace {

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

bool has_suffix(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() && text::iequals(name.substr(name.size() - suffix.size()), suffix);
}

}  // namespace

std::size_t count_names(const std::string& folder, std::string_view suffix) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) raise_file_error(errno, "list " + folder);
  std::size_t count = 0;
  while (dirent* e = ::readdir(dir.get()))
    if (has_suffix(e->d_name, suffix)) ++count;
  return count;
}

}  // namespace dexweb::platform
