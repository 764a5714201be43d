#pragma once
// Refused web messages and recipients: each refusal is logged, reported to the monitor as
// "bad", notified to the sender and leaves a copy of the web file in the bad folder.
//
// A bad copy holds the bytes that were read of the file (never the file read again by its
// name), appears whole or not at all, is readable by the module's account and group only,
// and never replaces another file: a name taken already (by an earlier run, or another
// module sharing the folder) is never used, the next unique name is. When it cannot be
// made, the web file stays where it is and the copy is tried again at later polls; the file
// is deleted once its copy exists.

#include <functional>
#include <string>
#include <string_view>

#include "config/registry.h"
#include "intake/leftover_files.h"
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

// The log folder (Log_Dir, or its default) + "badmsg/".
std::string bad_folder(const RegistrySettings& registry);
// bad_folder + unique_name + ".web": a web file's bad-copy name, fixed once it was read.
std::string make_bad_copy_path(const RegistrySettings& registry);

// Writes msg.bytes to msg.bad_copy_path unless this file's copy was made already: 3 tries,
// 0.5 s apart, the bad folder created when missing; while the name is taken, the next
// unique name (msg.bad_copy_path is changed). False when the copy could not be made.
bool save_bad_copy(WebMessage& msg, const RegistrySettings& registry);

// True for the name a bad copy has in the bad folder while it is being written (the
// module's unique name + ".web" + write_new_file's temporary ending): what a run that ended
// in the middle of one leaves behind.
bool is_bad_copy_temporary(std::string_view name);

// Tries again, once each, the copies of the files kept for them; a file whose copy is made
// is reported to made, then deleted and forgotten; a file that changed meanwhile is forgotten
// (it is another file now, worked as such).
void retry_pending_copies(LeftoverFiles& leftovers, const RegistrySettings& registry,
                          const std::function<void(const LeftoverFiles::PendingCopy&)>& made);

}  // namespace dexweb
