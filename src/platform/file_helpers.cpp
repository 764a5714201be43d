#include "platform/file_helpers.h"

#include "platform/event_loop.h"
#include "platform/files.h"
#include "platform/folder_entry.h"
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

}  // namespace

bool is_file(const std::string& path) {
  auto info = platform::stat_path(path);
  return info && !info->is_dir;
}

bool is_dir(const std::string& path) {
  auto info = platform::stat_path(path);
  return info && info->is_dir;
}

bool read_whole_file(const std::string& path, std::string& out, std::size_t limit) {
  out.clear();
  std::string bytes;
  if (!succeeds([&] { bytes = platform::read_file(path, limit); })) return false;
  out = text::decode_bytes(bytes);
  return true;
}

bool read_entry(const platform::FolderEntry& entry, std::string& bytes) {
  bytes.clear();
  if (entry.status() != platform::FolderEntry::Status::Opened) return false;
  return succeeds([&] { bytes = entry.read(kReadLimit); });
}

bool delete_with_retries(const platform::FolderEntry& entry, int attempts, double pause) {
  for (int i = 0; i < attempts; ++i) {
    if (succeeds([&] { entry.remove_if_same(); })) return true;
    // A stop cuts the pauses short, not the attempts: the file's work is done.
    platform::wait_unless_stopped(pause);
  }
  return false;
}

bool ensure_folder(const std::string& path) {
  if (is_dir(path)) return true;
  return succeeds([&] { platform::make_dirs(path); }) && is_dir(path);
}

}  // namespace dexweb
