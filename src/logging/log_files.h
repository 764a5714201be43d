#pragma once
// The module's log files. log_event only queues disk lines; flush_log_queues writes each
// queue to its file in one append (log_timer runs it every second, log_event when its
// queue's oldest line has waited a second, and wait_or_stop before every wait).
// write_log_direct appends one line at once, after the queued ones, for start-up, refusals
// and the error routine.

#include <string>
#include <string_view>

namespace dexweb {

void flush_log_queues();
void write_log_direct(std::string_view text);

// The wait of work in the middle of a poll (retry pauses, a writer's allowance): the queued
// lines go to disk first, since nothing flushes them while the module waits, then it waits
// `seconds` on the process clock. A stop requested before or during the wait throws
// platform::StopRequested at once.
void wait_or_stop(double seconds);

// The module's own log file: Log_Dir + kModuleName + ".log" (the default log folder when
// Log_Dir is empty).
std::string module_log_path();

}  // namespace dexweb
