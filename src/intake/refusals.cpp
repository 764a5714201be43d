#include "intake/refusals.h"

#include "data/unique_ids.h"
#include "intake/internal/intake_log.h"
#include "logging/log_event.h"
#include "notify/notifications.h"
#include "platform/folder.h"
#include "platform/private_files.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

constexpr const char* kWebCopyFailure = "Unable to copy web file to bad folder.";
constexpr const char* kAsciiCopyFailure = "Unable to copy ascii file to bad folder.";

Refusal plain(const std::string& recipient, const std::string& reason, const char* copy_failure = kWebCopyFailure) {
  return {recipient, recipient, reason, reason, copy_failure};
}

}  // namespace

namespace refusal {

Refusal no_user_field(const WebMessage& msg) { return plain(msg.original_recipient, "No user field in web data"); }

Refusal no_message_field(const WebMessage& msg) {
  return plain(msg.original_recipient, "No message field in web data");
}

Refusal owner_not_found(const WebMessage& msg) {
  return plain(msg.original_recipient, "Recipient record not found or web service not enabled for recipient.");
}

Refusal owner_web_service_off(const WebMessage& msg) { return plain(msg.user, "Web Service not enabled for Recipient"); }

Refusal item_not_found(const std::string& item) { return plain(item, "Recipient not found", kAsciiCopyFailure); }

Refusal item_not_valid(const std::string& item) { return plain(item, "Not a valid recipient", kAsciiCopyFailure); }

Refusal no_valid_recipients(const WebMessage& msg) {
  Refusal r = plain(msg.original_recipient, "No valid recipients in message");
  r.notify_reason = "No valid Velotrax recipients in message";
  return r;
}

Refusal ad_hoc_item_web_service_off(const std::string& item) {
  Refusal r = plain(item, "Ad-hoc PIN/ID is a recipient with web service disabled: " + item);
  r.notify_reason = "Ad-hoc PIN/ID is a recipient with the web service disabled";
  r.general_reason = true;
  return r;
}

Refusal no_valid_ad_hoc_pins(const WebMessage& msg) {
  Refusal r = plain(msg.original_recipient, "No valid ad-hoc pin numbers in message");
  r.notify_recipient = msg.user;
  return r;
}

}  // namespace refusal

void reject_message(WebMessage& msg, const Refusal& r, NotifyContext& notify, int obfuscate_chars) {
  msg.error_text = r.reason;
  monitor_status(LogCategory::Bad);
  log_event(LogLevel::General, kWithMessageLog, LogCategory::General,
            "Message rejected. Recipient: " + r.recipient + " Sender: " + msg.sender + " Source: " + msg.bad_copy_path);
  if (r.general_reason) log_general(r.reason);
  else log_detail(r.reason);
  send_notifications(notify, mask_message(msg.message, obfuscate_chars), msg.sender, r.notify_recipient, true,
                    r.notify_reason);
  if (!msg.bad_copy_made) log_detail(r.copy_failure);
}

namespace {

constexpr int kCopyAttempts = 3;
constexpr double kCopyPause = 0.5;
// Names tried for one copy before the folder counts as full of them.
constexpr int kNameAttempts = 1000;
constexpr std::string_view kBadCopySuffix = ".web";

std::string folder_of(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

enum class Written { Done, NameTaken, Failed };

Written write_copy(const std::string& path, const std::string& bytes) {
  if (!ensure_folder(folder_of(path))) return Written::Failed;
  try {
    platform::write_new_file(path, bytes);
    return Written::Done;
  } catch (const RuntimeError& e) {
    return e.number() == err::kFileAlreadyExists ? Written::NameTaken : Written::Failed;
  }
}

// One try, under a new name for as long as the name is taken.
bool write_under_free_name(std::string& path, const std::string& bytes, const RegistrySettings& registry) {
  for (int i = 0; i < kNameAttempts; ++i) {
    switch (write_copy(path, bytes)) {
      case Written::Done: return true;
      case Written::Failed: return false;
      case Written::NameTaken: path = make_bad_copy_path(registry); break;
    }
  }
  return false;
}

void report_cut(const std::string& path, bool cut) {
  if (cut) log_detail("The bad copy holds only the first " + std::to_string(kReadLimit) + " bytes of the web file: " + path);
}

// Made again for a kept file, from the same file as it was read.
void retry_one(LeftoverFiles::PendingCopy pending, LeftoverFiles& leftovers, const RegistrySettings& registry,
               const std::function<void(const LeftoverFiles::PendingCopy&)>& made) {
  platform::FolderEntry entry = platform::FolderEntry::open(pending.folder + pending.name);
  const auto now = entry.current_stamp();
  if (!now || *now != pending.stamp) return leftovers.forget(pending.folder, pending.name);
  std::string bytes;
  if (!read_entry(entry, bytes) || !write_under_free_name(pending.copy_path, bytes, registry)) return;
  report_cut(pending.copy_path, pending.cut);
  log_detail("Bad copy made: " + pending.copy_path);
  made(pending);
  leftovers.forget(pending.folder, pending.name);
  if (delete_with_retries(entry, 1, 0)) return;
  log_detail("Error: Unable to delete web file");
  leftovers.remember(pending.folder, pending.name);
}

}  // namespace

std::string bad_folder(const RegistrySettings& registry) { return registry.log_folder() + "badmsg/"; }

std::string make_bad_copy_path(const RegistrySettings& registry) {
  return bad_folder(registry) + unique_name() + std::string(kBadCopySuffix);
}

bool is_bad_copy_temporary(std::string_view name) {
  constexpr std::size_t kTemporaryEnding = 11;  // ".partXXXXXX"
  return name.starts_with(kModuleName) && platform::is_new_file_temporary(name) &&
         name.substr(0, name.size() - kTemporaryEnding).ends_with(kBadCopySuffix);
}

bool save_bad_copy(WebMessage& msg, const RegistrySettings& registry) {
  if (msg.bad_copy_made) return true;
  if (msg.bad_copy_path.empty()) msg.bad_copy_path = make_bad_copy_path(registry);
  for (int i = 0; i < kCopyAttempts && !msg.bad_copy_made; ++i) {
    if (i > 0) wait_or_stop(kCopyPause);
    msg.bad_copy_made = write_under_free_name(msg.bad_copy_path, msg.bytes, registry);
  }
  if (msg.bad_copy_made) report_cut(msg.bad_copy_path, msg.cut);
  return msg.bad_copy_made;
}

void retry_pending_copies(LeftoverFiles& leftovers, const RegistrySettings& registry,
                          const std::function<void(const LeftoverFiles::PendingCopy&)>& made) {
  for (LeftoverFiles::PendingCopy& pending : leftovers.pending_copies()) retry_one(std::move(pending), leftovers, registry, made);
}

}  // namespace dexweb
