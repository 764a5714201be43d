#pragma once
// The logging's state: what the settings row asks of the log, the lines waiting for the
// log timer, the log triggers and the monitor link. The reporter of the run holds it (logging/reporter.h).

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "logging/log_triggers.h"
#include "logging/monitor_settings.h"
#include "platform/clock.h"
#include "platform/system_info.h"
#include "util/string_builder.h"

namespace dexweb {

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

// Puts the installed reporter's state back to its start values (tests).
void reset_log_state();

// Puts the process-wide values back to their start values: the gateway time offset, the
// stop request and the installed reporter's state (a run's start, tests).
void reset_process_state();

}  // namespace dexweb
