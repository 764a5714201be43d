#pragma once
// The gateway's status as text for a terminal and as JSON for scripts.

#include <string>

#include "tools/gateway_status.h"

namespace dexweb::ctl {

// Lines of text; message texts cut to one short line. Every text that comes from files or
// rows is shown without control characters (C0, DEL, C1), so that none can drive the
// terminal. What stops the module (the control row, unreadable files) is listed as
// "problem: ..." lines.
std::string status_text(const GatewayStatus& status);

// One JSON object: {"state", "processes": [pid...], "pid", "poll", "message_rows",
// "control": {"found","run","pause","state"}, "waiting", "bad_copies",
// "mail_files": {"folder","count","newest":[{"name","modified"}]},
// "messages": [{"record_id","user","pin","frm","requested","message"}], "refusals",
// "unknown": why the state is unknown or null, "problems": [text...]}. Control characters
// are escaped.
std::string status_json(const GatewayStatus& status);

// A short one-line view of a message text: line breaks as spaces, at most width characters.
std::string message_excerpt(const std::string& message, std::size_t width = 60);

}  // namespace dexweb::ctl
