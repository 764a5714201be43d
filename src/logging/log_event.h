#pragma once
// The module's single reporting call, and what it reports to besides the monitors.
//   level:    reports above the settings row's log_level are dropped (general always passes)
//   target:   the monitors, the module's log file and/or the gateway's message log
//   category: the monitor's status; "general" for a plain report
//   text:     the report
// Never throws: a failing step is skipped and the next one runs.
//
// The log files: log_event only queues disk lines; flush_log_queues writes each queue to its
// file in one append (log_timer runs it every second, log_event when its queue's oldest line
// has waited a second, and wait_or_stop before every wait). write_log_direct appends one
// line at once, after the queued ones, for start-up, refusals and the error routine.
//
// Standard error: refusals, halts and warnings are written there always (under systemd
// standard error is the journal); the general log lines (start, each accepted and refused
// message, stop) only when standard error is a terminal.

#include <string>
#include <string_view>

#include "util/string_builder.h"

namespace dexweb {

enum class LogLevel { General = 1, Detail = 2, Debug = 3 };

// Combined with |.
enum class LogTarget : unsigned { Monitor = 1, Disk = 2, Message = 4 };
constexpr LogTarget operator|(LogTarget a, LogTarget b) {
  return static_cast<LogTarget>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr bool has_target(LogTarget set, LogTarget one) {
  return (static_cast<unsigned>(set) & static_cast<unsigned>(one)) != 0;
}
inline constexpr LogTarget kMonitorDisk = LogTarget::Monitor | LogTarget::Disk;
// Also the gateway's message log (and the monitors' "Velotrax" datagram).
inline constexpr LogTarget kWithMessageLog = kMonitorDisk | LogTarget::Message;

enum class LogCategory { General, Good, Bad, Running, Stopped };
// The category as the monitor's datagram names it: "general", "good", "bad", "running",
// "stopped".
std::string_view category_name(LogCategory category);

void log_event(LogLevel level, LogTarget target, LogCategory category, std::string_view text);

// The usual report: to the monitors and the log file, category general.
void log_general(std::string_view text);
void log_detail(std::string_view text);
void log_debug(std::string_view text);
// The monitor's status only: level general, no text.
void monitor_status(LogCategory category);

// The log files (see above).
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

// Standard error (see above). True when standard error is a terminal, so log_event echoes
// the general log lines there.
bool echoes_log_lines();
// Writes the text as one line (a line break inside becomes a blank) and flushes. Never throws.
void echo_line(std::string_view text);

// Makes report text safe for the "|"-separated datagrams and the one-line log formats.
// Every character outside space..tilde, and "|", becomes "<" + its code point in decimal
// + ">" (a tab <9>, CR LF <13><10>, "|" <124>). The result is plain ASCII. builder is the
// caller's scratch buffer and is cleared first.
std::string sanitize_log_text(std::string_view text, StringBuilder& builder);

}  // namespace dexweb
