#pragma once
// The module's single reporting call.
//   level:    reports above the settings row's log_level are dropped (general always passes)
//   target:   the monitors, the module's log file and/or the gateway's message log
//   category: the monitor's status; "general" for a plain report
//   text:     the report
// Never throws: a failing step is skipped and the next one runs.

#include <string_view>

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

}  // namespace dexweb
