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

#include <string>
#include <string_view>
#include <vector>

namespace dexweb {

struct LogTrigger {
  std::string match;  // case-sensitive substring of the report's raw text
  std::string command_line;
  std::string continue_flag;
};

struct LogTriggerTable {
  bool loaded = false;
  std::vector<LogTrigger> rows;  // at most 100
};

// Loads the table on first use (a missing file leaves it empty), then starts every matching
// row's program without waiting. stamp is the report's time stamp. Never throws.
void run_log_triggers(std::string_view report_text, std::string_view stamp);

}  // namespace dexweb
