#pragma once
// The intake's kinds of log line, all through log_event (log_general, log_detail,
// log_debug and monitor_status are logging's).

#include <string>
#include <string_view>

#include "logging/log_event.h"
#include "util/runtime_error.h"

namespace dexweb {

// What an operator must act on (a file left in the folder, a folder out of reach): the
// detail or general log line, also written to standard error, where a service's journal
// keeps it (a general line only where standard error does not show the log lines anyway).
inline void warn_detail(std::string_view text) {
  log_detail(text);
  echo_line(std::string(kModuleName) + ": " + std::string(text));
}
inline void warn_general(std::string_view text) {
  log_general(text);
  if (!echoes_log_lines()) echo_line(std::string(kModuleName) + ": " + std::string(text));
}

}  // namespace dexweb
