#pragma once
// The parts of a notification that only this folder and its tests use: the rule for text
// in a mail header line, the mail file itself, and the recipient's row of the users table.

#include <optional>
#include <string>
#include <string_view>

#include "config/gateway_settings.h"
#include "notify/template_expansion.h"
#include "platform/clock.h"

namespace dexweb {

class DBObject;
class Dialect;

// Text placed into a header line of a mail file. A reader of the file ends a header line at
// any CR or LF, so a value that holds one (a sender typed with a line break) would add
// header lines of the submitter's choosing, a "Bcc:" say: header_value keeps the text
// before its first CR or LF, with every other control character (C0 controls, tab
// included, DEL and the C1 controls U+0080 to U+009F) turned into a blank.
std::string header_value(std::string_view text);

// "ddd, dd mmm yyyy hh:nn:ss +0000" with English names, e.g. "Fri, 04 Dec 2026 19:14:19 +0000".
std::string rfc822_date(platform::TimePoint utc);
// Of the clock's time now, in UTC: the offset of server_now is not applied.
std::string rfc822_date();

// Writes one notification mail file, for the gateway's mail module:
// settings.mail_out_dir + unique_name() + ".msg", and returns its path. The lines, each
// ending with CR LF:
//   Message-ID: <second unique_name()@domain>
//   Date: rfc822_date()
//   X-WRTo: address
//   To: address
//   From: postmaster, or velotrax@domain when postmaster is empty or blank
//   text
// address, postmaster and domain are made one header line each (header_value); text is
// written as it is. The file appears under its name only when complete (it is written under
// a name that does not end in ".msg"), and it never replaces a file: while the name is
// taken, the next unique_name() is tried, up to 1000 names. Raises the file error (52..76)
// when the folder is missing, the file cannot be written or no name was free (58); nothing
// is left behind then. The folder is never created.
std::string write_mail_file(const GatewaySettings& settings, std::string_view address, std::string_view text);

// The recipient's row of the users table, for the placeholders "%FullName%" and
// "%Comment1%" to "%Comment4%". User names compare without regard to case, as the recipient
// list and the gateway's other databases compare them.
//
// The SELECT of the first row whose user is recipient, in the dialect given, e.g. on SQL
// Server "SELECT TOP 1 [full_name], [extra1], [extra2], [extra3], [extra4] FROM [users]
// WITH (NOLOCK) WHERE ([user] = 'bob' )".
std::string user_row_query(const Dialect& dialect, const std::string& recipient);
// The row's five columns (Null read as empty text), or nullopt when no row matches.
// Database failures are raised.
std::optional<UserColumns> find_user_row(DBObject& db, const std::string& recipient);

}  // namespace dexweb
