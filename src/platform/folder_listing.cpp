#include "platform/folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "platform/files.h"
#include "util/text.h"

namespace dexweb::platform {
namespace {

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

TimePoint time_point_of(const struct timespec& ts) {
  using namespace std::chrono;
  return TimePoint{duration_cast<system_clock::duration>(seconds{ts.tv_sec} + nanoseconds{ts.tv_nsec})};
}

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

void walk_folder(const std::string& folder, std::string_view suffix,
                 const std::function<bool(const std::string& name, const FileStamp& stamp)>& visit) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) raise_file_error(errno, "list " + folder);
  std::string name;
  while (dirent* e = ::readdir(dir.get())) {
    name = e->d_name;
    if (!has_suffix(name, suffix)) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const FileStamp stamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                          static_cast<std::uint64_t>(st.st_size), time_point_of(st.st_mtim),
                          time_point_of(st.st_ctim),       S_ISREG(st.st_mode)};
    if (!visit(name, stamp)) return;
  }
}

}  // namespace dexweb::platform
