#pragma once
// The intake's kinds of log line, all through log_event.

#include <string_view>

namespace dexweb {

// Level "detail", target "monitor/disk", category "general".
void log_detail(std::string_view text);
// Level "general", target "monitor/disk", category "general".
void log_general(std::string_view text);
// What an operator must act on (a file left in the folder, a folder out of reach): the
// detail or general log line, also written to standard error, where a service's journal
// keeps it (a general line only where standard error does not show the log lines anyway).
void warn_detail(std::string_view text);
void warn_general(std::string_view text);
// Level "debug", target "monitor/disk", category "general".
void log_debug(std::string_view text);
// The monitor's status only ("good" or "bad"): level "general", target "monitor", no text.
void monitor_status(std::string_view category);

}  // namespace dexweb
