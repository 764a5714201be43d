#include "data/internal/db_log.h"

#include <string>

#include "logging/log_event.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

DbLogObserver& observer() {
  static DbLogObserver o;
  return o;
}

}  // namespace

void db_log(LogLevel level, std::string_view text) {
  if (observer()) observer()(level, text);
  log_event(level, kMonitorDisk, LogCategory::General, text);
}

void db_warning(std::string_view text) {
  db_log(LogLevel::Detail, text);
  echo_line(std::string(kModuleName) + ": " + std::string(text));
}

void set_db_log_observer(DbLogObserver o) { observer() = std::move(o); }

}  // namespace dexweb
