#pragma once
// The module's single reporting call.
//   level:    "general", "detail" or "debug" (any case); reports above log_level are dropped
//   target:   text containing "monitor", "disk" and/or "message", e.g. "monitor/disk"
//   category: "general", "good", "bad", "running" or "stopped" (the monitor's status)
//   text:     the report
// Never throws: a failing step is skipped and the next one runs.

#include <string_view>

namespace dexweb {

void log_event(std::string_view level, std::string_view target, std::string_view category,
               std::string_view text);

}  // namespace dexweb
