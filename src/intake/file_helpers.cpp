#include "intake/file_helpers.h"

#include <string_view>

#include "platform/event_loop.h"
#include "platform/files.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {
namespace {

// Runs the step and reports whether it finished without a RuntimeError.
template <typename Step>
bool succeeds(Step&& step) {
  try {
    step();
    return true;
  } catch (const RuntimeError&) {
    return false;
  }
}

// '*' matches any run of characters, '?' any one character; case is ignored.
bool wildcard_match(std::u32string_view pattern, std::u32string_view name) {
  std::size_t p = 0, n = 0, star = std::u32string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || text::fold(pattern[p]) == text::fold(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == U'*') {
      star = p++;
      resume = n;
    } else if (star != std::u32string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

void delete_matching(const std::string& pattern_path) {
  const std::size_t slash = pattern_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "./" : pattern_path.substr(0, slash + 1);
  const std::u32string pattern = text::to_u32(pattern_path.substr(folder.size()));
  for (const platform::DirEntry& entry : platform::list_files(folder, ""))
    if (wildcard_match(pattern, text::to_u32(entry.name))) platform::remove_file(folder + entry.name);
}

bool DeleteFileOnce(const std::string& path) {
  if (path.find('*') != std::string::npos) return succeeds([&] { delete_matching(path); });
  return succeeds([&] { platform::remove_file(path); });
}

bool CopyFileOnce(const std::string& source, const std::string& target) {
  return isfile(source) && succeeds([&] { platform::copy_file(source, target); });
}

}  // namespace

bool isfile(const std::string& path) {
  auto info = platform::stat_path(path);
  return info && !info->is_dir;
}

bool isdir(const std::string& path) {
  auto info = platform::stat_path(path);
  return info && info->is_dir;
}

bool FileIsLocked(const std::string& path) { return platform::file_is_locked(path); }

bool WaitForWriter(const std::string& path, double max_seconds) {
  const auto deadline = platform::clock().now() + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                                      std::chrono::duration<double>(max_seconds));
  while (FileIsLocked(path)) {
    if (platform::clock().now() >= deadline) return false;
    platform::wait_seconds(kWriterPollSeconds);
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& out, bool wait, std::size_t limit) {
  out.clear();
  if (wait && !WaitForWriter(path)) return false;
  std::string bytes;
  if (!succeeds([&] { bytes = platform::read_file(path, limit); })) return false;
  out = text::decode_bytes(bytes);
  return true;
}

bool DeleteFileWithRetries(const std::string& path, int attempts, double pause) {
  for (int i = 0; i < attempts; ++i) {
    if (DeleteFileOnce(path)) return true;
    platform::wait_seconds(pause);
  }
  return false;
}

bool CopyFileWithRetries(const std::string& source, const std::string& target, int attempts, double pause) {
  if (!isfile(source)) return false;
  for (int i = 0; i < attempts; ++i) {
    const bool copied = CopyFileOnce(source, target);
    platform::DoEvents();
    if (copied) return true;
    platform::wait_seconds(pause);
  }
  return false;
}

bool EnsureFolder(const std::string& path) {
  if (isdir(path)) return true;
  return succeeds([&] { platform::make_dirs(path); }) && isdir(path);
}

}  // namespace dexweb
