#pragma once
// Success and failure notices: one mail file in the outgoing mail folder per address of
// the notify list, expanded from the template (notify/template_expansion.h).
//
// The list and the template are files of the program folder (Prog_Dir), found without
// regard to case: "failurenotifylist.txt" and "failure.mtp" for a failure,
// "successnotifylist.txt" and "success.mtp" for a success. Nothing happens while
// dexmail_enabled is false, when either file is missing, or when the template is empty or
// cannot be read. Only the template's first 5412 characters are used.
//
// Failures of the user lookup, the list read and each mail file go through on_error with
// "Procedure: SendNotifications" and are retried step by step: mail files already written
// for earlier addresses are not written again.

#include <string>
#include <string_view>
#include <vector>

#include "config/gateway_settings.h"

namespace dexweb {

class DBObject;
class ErrorPolicy;

// What a notification needs from the running module.
struct NotifyContext {
  DBObject& db;
  const GatewaySettings& settings;  // dexmail_enabled, postmaster, domain, mail_out_dir
  ErrorPolicy& policy;
  std::string prog_dir;  // Prog_Dir: where the lists and templates are
};

// Writes one mail file for each item of the notify list, in list order. Starts the error
// policy's counters afresh. message, sender and recipient are the web message's;
// error_message the reason of a failure.
void send_notifications(NotifyContext& ctx, const std::string& message, const std::string& sender,
                        const std::string& recipient, bool failed, const std::string& error_message);

// True for the names a mail file has in the outgoing mail folder while it is being written
// (the module's unique name + ".tmp", and the temporary name of that): what a run that ended
// in the middle of one leaves behind. Never a finished mail file, nor another module's.
bool is_mail_file_temporary(std::string_view name);

// The notify list: the addresses a notification goes to, one per item.
//
// The items of a list's text, in order. Items are separated by commas and line ends (CR LF,
// LF or CR). Leading and trailing blanks of an item are dropped. An item that begins with a
// double quote runs to the next double quote, commas and line ends included, and is taken
// without the quotes; anything after the closing quote up to the next separator is
// ignored. Empty items (an empty line, "") are left out.
std::vector<std::string> parse_notify_list(std::string_view text);

// After trimming blanks: at least 6 characters, the first "@" not in first place, and a
// "." somewhere after that "@".
bool is_mail_address(std::string_view text);

// The address an item stands for: the item "%Sender%" (exactly so) stands for the sender's
// first element (a sender field naming several, separated by commas, semicolons or blanks,
// counts by its first), with "@" + domain appended unless it is a mail address; any other
// item for itself. Only the text before the first line break of the item or sender counts,
// its other control characters made blanks (header_value), so that the address stays one
// header line. Empty text for "%Sender%" when there is no sender.
std::string notify_address(std::string_view item, std::string_view sender, std::string_view domain);

}  // namespace dexweb
