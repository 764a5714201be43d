#pragma once
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

#include <chrono>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"
#include "platform/clock.h"

namespace dexweb {

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

}  // namespace dexweb
