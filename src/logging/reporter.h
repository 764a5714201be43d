#pragma once
// The reporter of a run: the logging's state (queues, log triggers, monitor link), the
// registry settings it reports by (Log_Dir for the log files, DB_Dir for the trigger file)
// and the error policy whose counters every report starts afresh. The daemon owns one and
// installs it for its lifetime; every layer reports, so log_event and the calls below it
// reach the installed one through the process's one reporter pointer. Tests install their
// own.

#include <array>
#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/registry.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/sockets.h"
#include "util/scoped_pointer.h"
#include "util/string_builder.h"

namespace dexweb {

class ErrorPolicy;

// Where the module's monitor datagrams go, as read from the registry's Monitor key.
inline constexpr const char* kLocalMonitorHost = "127.0.0.1";

struct FurtherMonitor {
  std::string address;      // VTM_IPn as configured
  bool enabled = false;     // the address is a dotted IPv4 address
  std::string cached_name;  // the address the last resolution was made for
  std::string resolved;     // dotted quad, or empty when it could not be resolved
};

struct MonitorSettings {
  bool enabled = false;
  std::string port;  // VTM_Port as text
  std::string host = kLocalMonitorHost;
  std::array<FurtherMonitor, 3> further;
  // The minute (of the gateway's clock) of the last address refresh; nullopt before the first.
  std::optional<std::chrono::sys_time<std::chrono::minutes>> last_refresh_minute;
  // port as a number (0 when it is none), and the text it was read from.
  int port_number = 0;
  std::optional<std::string> port_number_of;
  // One socket for every datagram of the run.
  platform::UdpSender sender;
};

// Log triggers: programs started when a report contains a given text. The rows for this
// module come from DB_Dir + "LogMonitorInfo.txt" (any case), records of four comma-separated
// fields: module name, match text, command line, continue flag ("False" stops the scan
// after a matching row).
//
// The command line comes from a trusted file, but %Message% carries web input: it is split
// into arguments first and the placeholders (%DateTime%, %Module%, %Message%, any case) are
// replaced inside each argument afterwards, and the program is started directly, never
// through a shell. Whatever the message holds, it stays inside the arguments it was put in.
//
// Any sender can put a row's match text into a report, so a row's program never runs twice
// at once and starts at most kTriggerStartLimit times within any kTriggerStartWindow of the
// module's clock. A match that starts nothing is counted; the count is logged as one line,
// "Log trigger "<match>" was held back <n> times", at the first report that reaches the
// triggers once the row may start again, or once a window has passed since the count began
// (so a program that never ends does not hide it). That line itself never runs triggers.
inline constexpr std::size_t kTriggerStartLimit = 5;
inline constexpr std::chrono::seconds kTriggerStartWindow{60};

struct LogTrigger {
  std::string match;  // case-sensitive substring of the report's raw text
  std::string command_line;
  std::string continue_flag;

  platform::ChildProcess last_run;                 // the program this row started last
  std::deque<platform::TimePoint> recent_starts;  // oldest first, pruned to one window
  int held_back = 0;                               // matches that started nothing, not yet logged
  platform::TimePoint held_since;                  // the first of them
};

struct LogTriggerTable {
  bool loaded = false;
  std::vector<LogTrigger> rows;  // at most 100
  // The line the triggers themselves are logging, while they log it: a report with exactly
  // this text skips the triggers, so no row can feed on the lines about itself.
  std::string own_report;
};

// Loads the table on first use (a missing file leaves it empty), logs the held-back counts
// that are due, then starts every matching row's program that may start (the others count
// as held back), without waiting. stamp is the report's time stamp. Never throws.
void run_log_triggers(std::string_view report_text, std::string_view stamp);

// A log file's line, without its line end: the time stamp, two blanks, the text.
std::string log_line(std::string_view stamp, std::string_view text);

// A line waiting in a log queue, and how many of its bytes (CR LF included) are in the file
// already: a full disk may take the first part of an append and refuse the rest, and the
// next flush then goes on after that part. Only the first line of a queue can have one.
struct QueuedLine {
  std::string line;
  std::size_t written = 0;
};
using LogQueue = std::deque<QueuedLine>;

// The queue's lines, each followed by CR LF: what its file gets at the next flush when
// nothing of them is written yet.
std::string queued_text(const LogQueue& queue);

// The logging's state: what the settings row asks of the log, the lines waiting for the
// log timer, the log triggers and the monitor link.
struct LogState {
  bool log_to_disk = true;
  int log_level = 3;
  // The builder log_event sanitises its text in.
  StringBuilder log_builder{platform::page_size()};
  // Disk lines waiting for flush_log_queues, oldest first, and when log_event flushes them
  // itself (a second after the oldest was queued or the last flush failed): the log timer
  // does not run while a poll works.
  LogQueue disk_log_queue;
  LogQueue message_log_queue;
  LogQueue gui_log_queue;
  std::optional<platform::SteadyPoint> flush_due;
  LogTriggerTable log_triggers;
  MonitorSettings monitor;
  // The time stamp of log lines, formatted once per second: the second (UTC plus the
  // gateway's offset) it was formatted for, and its text.
  std::chrono::sys_seconds stamp_second{};
  std::string stamp_text;
};

// The state of the installed reporter (see reporter()).
LogState& log_state();

// Puts the process-wide values back to their start values: the gateway time offset, the
// stop request and the installed reporter's state (a run's start, tests).
void reset_process_state();

class Reporter {
 public:
  // policy may be null: reports then start no counters afresh.
  Reporter(const RegistrySettings& registry, ErrorPolicy* policy) : registry_(registry), policy_(policy) {}
  Reporter(const Reporter&) = delete;
  Reporter& operator=(const Reporter&) = delete;

  const RegistrySettings& registry() const { return registry_; }
  ErrorPolicy* policy() const { return policy_; }
  LogState state;

 private:
  const RegistrySettings& registry_;
  ErrorPolicy* policy_;
};

// Makes reporter the process's reporter for the lifetime of the guard; the one before
// comes back after it.
class ReporterInstall {
 public:
  explicit ReporterInstall(Reporter& reporter);

 private:
  ScopedPointer<Reporter> installed_;
};

// The installed reporter; without one (dexwebctl, a process before its daemon exists) the
// process's reporter of last resort: no registry (the default log folder), no policy.
Reporter& reporter();

}  // namespace dexweb
