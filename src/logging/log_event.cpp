// Placeholder until the logging subsystem lands.
#include "logging/log_event.h"

namespace dexweb {
void log_event(std::string_view, std::string_view, std::string_view, std::string_view) {}
}  // namespace dexweb
