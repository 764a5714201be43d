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
Refusal NoUserField(const WebMessage& msg);
Refusal NoMessageField(const WebMessage& msg);
Refusal OwnerNotFound(const WebMessage& msg);
Refusal OwnerWebServiceOff(const WebMessage& msg);
Refusal ItemNotFound(const std::string& item);
Refusal ItemNotValid(const std::string& item);
Refusal NoValidRecipients(const WebMessage& msg);
Refusal AdHocItemWebServiceOff(const std::string& item);
Refusal NoValidAdHocPins(const WebMessage& msg);
}  // namespace refusal

// Monitor "bad", the rejection line, the reason line, the notification (the message masked),
// then the bad copy (SaveBadCopy; its failure line is refusal.copy_failure). Sets
// msg.error_text to the reason.
void Reject(WebMessage& msg, const Refusal& refusal, NotifyContext& notify);

}  // namespace dexweb
