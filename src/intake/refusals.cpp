#include "intake/refusals.h"

#include "intake/bad_copies.h"
#include "intake/intake_log.h"
#include "intake/text_helpers.h"
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

Refusal NoUserField(const WebMessage& msg) { return plain(msg.OriginalRecipient, "No user field in web data"); }

Refusal NoMessageField(const WebMessage& msg) {
  return plain(msg.OriginalRecipient, "No message field in web data");
}

Refusal OwnerNotFound(const WebMessage& msg) {
  return plain(msg.OriginalRecipient, "Recipient record not found or web service not enabled for recipient.");
}

Refusal OwnerWebServiceOff(const WebMessage& msg) { return plain(msg.user, "Web Service not enabled for Recipient"); }

Refusal ItemNotFound(const std::string& item) { return plain(item, "Recipient not found", kAsciiCopyFailure); }

Refusal ItemNotValid(const std::string& item) { return plain(item, "Not a valid recipient", kAsciiCopyFailure); }

Refusal NoValidRecipients(const WebMessage& msg) {
  Refusal r = plain(msg.OriginalRecipient, "No valid recipients in message");
  r.notify_reason = "No valid Velotrax recipients in message";
  return r;
}

Refusal AdHocItemWebServiceOff(const std::string& item) {
  Refusal r = plain(item, "Ad-hoc PIN/ID is a recipient with web service disabled: " + item);
  r.notify_reason = "Ad-hoc PIN/ID is a recipient with the web service disabled";
  r.general_reason = true;
  return r;
}

Refusal NoValidAdHocPins(const WebMessage& msg) {
  Refusal r = plain(msg.OriginalRecipient, "No valid ad-hoc pin numbers in message");
  r.notify_recipient = msg.user;
  return r;
}

}  // namespace refusal

void Reject(WebMessage& msg, const Refusal& r, NotifyContext& notify) {
  msg.error_text = r.reason;
  monitor_status("bad");
  log_event("general", "monitor/disk/message", "general",
            "Message rejected. Recipient: " + r.recipient + " Sender: " + msg.Sender + " Source: " + msg.BadCopyPath);
  if (r.general_reason) log_general(r.reason);
  else log_detail(r.reason);
  SendNotifications(notify, MaskMessage(VariantToText(msg.message)), msg.Sender, r.notify_recipient, true,
                    r.notify_reason);
  if (!SaveBadCopy(msg)) log_detail(r.copy_failure);
}

}  // namespace dexweb
