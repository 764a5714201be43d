#pragma once
// The gateway's status as text for a terminal and as JSON for scripts.

#include <string>

#include "tools/gateway_status.h"

namespace dexweb::ctl {

// Lines of text; message texts cut to one short line.
std::string status_text(const GatewayStatus& status);

// One JSON object: {"state", "processes": [pid...], "control": {"found","run","pause","state"}, "waiting",
// "bad_copies", "mail_files": {"folder","count","newest":[{"name","modified"}]},
// "messages": [{"record_id","user","pin","frm","requested","message"}]}.
std::string status_json(const GatewayStatus& status);

// A short one-line view of a message text: line breaks as spaces, at most width characters.
std::string message_excerpt(const std::string& message, std::size_t width = 60);

}  // namespace dexweb::ctl
