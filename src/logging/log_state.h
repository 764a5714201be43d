#pragma once
// The logging's module-wide values: what the settings row asks of the log, the log_event
// calls in progress, the lines waiting for the log timer, the interlock of the two disk
// writers, the log triggers and the monitor link. They live for the process.

#include <chrono>
#include <string>

#include "logging/log_triggers.h"
#include "logging/monitor_settings.h"
#include "platform/system_info.h"
#include "util/nvp_list.h"
#include "util/string_builder.h"

namespace dexweb {

struct LogState {
  bool LogToDisk = true;
  int LogLevel = 3;
  // log_event calls in progress and the builder of the outermost one.
  int LogDepth = 0;
  clsStringBuilder LogBuilder{platform::page_size()};
  // Disk lines waiting for flush_log_queues: the line is the name, False the value.
  NVPList DiskLogQueue;
  NVPList MessageLogQueue;
  NVPList GuiLogQueue;
  // The interlock of the queued and the direct disk writer.
  bool FlushBusy = false;
  bool DirectBusy = false;
  LogTriggerTable LogTriggers;
  MonitorSettings Monitor;
  // The time stamp of log lines, formatted once per second: the second (UTC plus the
  // gateway's offset) it was formatted for, and its text.
  std::chrono::sys_seconds StampSecond{};
  std::string StampText;
  // "Message accepted." and "Message rejected." reports of this run (per recipient).
  long long MessagesAccepted = 0;
  long long MessagesRefused = 0;
};

LogState& log_state();
// Puts the logging's values back to their start values (tests).
void reset_log_state();

// Puts every module-wide value back to its start value: globals() and log_state() (tests).
void reset_globals();

}  // namespace dexweb
