#pragma once
// The gateway's status as text for a terminal and as JSON for scripts, and its health and
// metrics, machine-readable, for load balancers and monitoring systems.

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

struct Health {
  bool healthy = false;
  std::string reason;  // one line
};

// Healthy when this home's module runs (a live process holds its instance lock) and its
// last poll is at most twice its poll interval old (at least kMinHealthySeconds). The reason
// starts with "unknown: " when the lock cannot be examined.
Health judge_health(const GatewayStatus& status);
inline constexpr long kMinHealthySeconds = 5;

// The Prometheus text format (version 0.0.4) of the status: the version, up (left out when
// unknown), the message files and the recipients accepted and refused in the module's run,
// rows of messages, bad copies, files waiting, files the module cannot read, the oldest
// waiting file's time (only while one waits) and the last poll's time (0 before any poll
// was recorded).
std::string metrics_text(const GatewayStatus& status);

}  // namespace dexweb::ctl
