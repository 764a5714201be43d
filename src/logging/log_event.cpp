// Placeholder until the logging subsystem lands.
#include "logging/log_event.h"

namespace dexweb {
void log_event(std::string_view, std::string_view, std::string_view, std::string_view) {}
}  // namespace dexweb

// Placeholder until the monitor link lands.
#include "logging/monitor_link.h"
namespace dexweb {
void read_monitor_settings() {}
}  // namespace dexweb
