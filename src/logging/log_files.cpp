// Placeholder until the logging subsystem lands.
#include "logging/log_files.h"

namespace dexweb {
void flush_log_queues() {}
void flush_log_queues_after_running_flush() {}
void write_log_direct(std::string_view) {}
void begin_direct_write() {}
void end_direct_write() {}
std::string module_log_path() { return {}; }
}  // namespace dexweb
