#include "intake/internal/refusals.h"

#include "intake/internal/intake_log.h"
#include "logging/log_event.h"
#include "notify/notifications.h"

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

}  // namespace dexweb
