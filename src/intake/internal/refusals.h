#pragma once
// Refused web messages and recipients: each refusal is logged, reported to the monitor as
// "bad", notified to the sender and leaves a copy of the web file in the bad folder.

#include <string>

#include "intake/web_message.h"

namespace dexweb {

struct NotifyContext;

struct Refusal {
  std::string recipient;         // named in the log lines
  std::string notify_recipient;  // named in the notification
  std::string reason;            // the reason line
  std::string notify_reason;
  std::string copy_failure;      // logged when the bad copy cannot be made
  bool general_reason = false;   // the reason line is a general line, not a detail line
};

// The refusals, by what caused them.
namespace refusal {
Refusal no_user_field(const WebMessage& msg);
Refusal no_message_field(const WebMessage& msg);
Refusal owner_not_found(const WebMessage& msg);
Refusal owner_web_service_off(const WebMessage& msg);
Refusal item_not_found(const std::string& item);
Refusal item_not_valid(const std::string& item);
Refusal no_valid_recipients(const WebMessage& msg);
Refusal ad_hoc_item_web_service_off(const std::string& item);
Refusal no_valid_ad_hoc_pins(const WebMessage& msg);
}  // namespace refusal

// Monitor "bad", the rejection line, the reason line, the notification (the message masked),
// then refusal.copy_failure when the bad copy, made before the file's record was committed,
// could not be made. Sets msg.error_text to the reason.
void reject_message(WebMessage& msg, const Refusal& refusal, NotifyContext& notify, int obfuscate_chars);

}  // namespace dexweb
