#include "intake/internal/intake_log.h"

#include "logging/log_event.h"

namespace dexweb {

void log_detail(std::string_view text) { log_event("detail", "monitor/disk", "general", text); }
void log_general(std::string_view text) { log_event("general", "monitor/disk", "general", text); }
void log_debug(std::string_view text) { log_event("debug", "monitor/disk", "general", text); }
void monitor_status(std::string_view category) { log_event("general", "monitor", category, ""); }

}  // namespace dexweb
