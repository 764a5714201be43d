#include "intake/bad_copies.h"

#include "data/unique_ids.h"
#include "intake/internal/intake_log.h"
#include "intake/leftover_files.h"
#include "platform/event_loop.h"
#include "platform/file_helpers.h"
#include "platform/folder_entry.h"
#include "platform/private_files.h"
#include "util/module_name.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

constexpr int kCopyAttempts = 3;
constexpr double kCopyPause = 0.5;
// Unique names restart with the run: names already taken by earlier runs are skipped.
constexpr int kNameAttempts = 1000;
constexpr std::string_view kBadCopySuffix = ".web";

std::string folder_of(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

bool write_copy(const std::string& path, const std::string& bytes) {
  if (!ensure_folder(folder_of(path))) return false;
  try {
    platform::write_new_file(path, bytes);
    return true;
  } catch (const RuntimeError&) {
    return false;
  }
}

void report_cut(const std::string& path, bool cut) {
  if (cut) log_detail("The bad copy holds only the first " + std::to_string(kReadLimit) + " bytes of the web file: " + path);
}

bool write_copy_with_retries(const std::string& path, const std::string& bytes, bool cut) {
  for (int i = 0; i < kCopyAttempts; ++i) {
    if (write_copy(path, bytes)) {
      report_cut(path, cut);
      return true;
    }
    platform::wait_seconds(kCopyPause);
  }
  return false;
}

// Made again for a kept file, from the same file as it was read.
void retry_one(const std::string& folder, const LeftoverFiles::PendingCopy& pending, LeftoverFiles& leftovers) {
  platform::FolderEntry entry = platform::FolderEntry::open(folder + pending.name);
  const auto now = entry.current_stamp();
  if (!now || *now != pending.stamp) return leftovers.forget(folder, pending.name);
  std::string bytes;
  if (!read_entry(entry, bytes) || !write_copy(pending.copy_path, bytes)) return;
  report_cut(pending.copy_path, pending.cut);
  log_detail("Bad copy made: " + pending.copy_path);
  leftovers.forget(folder, pending.name);
  if (delete_with_retries(entry, 1, 0)) return;
  log_detail("Error: Unable to delete web file");
  leftovers.remember(folder, pending.name);
}

}  // namespace

std::string bad_folder(const RegistrySettings& registry) { return registry.log_folder() + "badmsg/"; }

std::string make_bad_copy_path(const RegistrySettings& registry) {
  return bad_folder(registry) + unique_name() + std::string(kBadCopySuffix);
}

const std::string& claim_bad_copy_path(WebMessage& msg, const RegistrySettings& registry) {
  if (msg.bad_copy_path_checked) return msg.bad_copy_path;
  msg.bad_copy_path_checked = true;
  if (msg.bad_copy_path.empty()) msg.bad_copy_path = make_bad_copy_path(registry);
  for (int i = 1; i < kNameAttempts && platform::stamp_entry(msg.bad_copy_path); ++i)
    msg.bad_copy_path = make_bad_copy_path(registry);
  return msg.bad_copy_path;
}

bool is_bad_copy_temporary(std::string_view name) {
  constexpr std::size_t kTemporaryEnding = 11;  // ".partXXXXXX"
  return name.starts_with(kModuleName) && platform::is_new_file_temporary(name) &&
         name.substr(0, name.size() - kTemporaryEnding).ends_with(kBadCopySuffix);
}

bool save_bad_copy(WebMessage& msg) {
  if (msg.bad_copy_made) return true;
  msg.bad_copy_made = write_copy_with_retries(msg.bad_copy_path, msg.bytes, msg.cut);
  msg.bad_copy_pending = !msg.bad_copy_made;
  return msg.bad_copy_made;
}

void retry_pending_copies(const std::string& folder, LeftoverFiles& leftovers) {
  for (const LeftoverFiles::PendingCopy& pending : leftovers.pending_copies(folder)) retry_one(folder, pending, leftovers);
}

}  // namespace dexweb
