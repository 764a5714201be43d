#pragma once
// The data layer's reports: every line goes to the monitors and the log file with category
// general.

#include <functional>
#include <string_view>

#include "logging/log_event.h"

namespace dexweb {

void db_log(LogLevel level, std::string_view text);
// A detail line that tells of a failure (a retry, a step given up on): also written to
// standard error, where the service manager's journal keeps it.
void db_warning(std::string_view text);

// Sees every db_log line before it is logged (tests); an empty function removes it.
using DbLogObserver = std::function<void(LogLevel level, std::string_view text)>;
void set_db_log_observer(DbLogObserver observer);

}  // namespace dexweb
