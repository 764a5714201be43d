#pragma once
// One notification mail file in the outgoing mail folder, for the gateway's mail module.

#include <string>
#include <string_view>

#include "config/gateway_settings.h"
#include "platform/clock.h"

namespace dexweb {

// "ddd, dd mmm yyyy hh:nn:ss +0000" with English names, e.g. "Fri, 04 Dec 2026 19:14:19 +0000".
std::string rfc822_date(platform::TimePoint utc);
// Of the clock's time now, in UTC: the offset of server_now is not applied.
std::string rfc822_date();

// Writes settings.mail_out_dir + unique_name() + ".msg" and returns its path. The lines, each
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

}  // namespace dexweb
