#include "data/internal/db_log.h"

#include "logging/log_event.h"

namespace dexweb {
namespace {

DbLogObserver& observer() {
  static DbLogObserver o;
  return o;
}

}  // namespace

void db_log(std::string_view level, std::string_view text) {
  if (observer()) observer()(level, text);
  log_event(level, "monitor/disk", "general", text);
}

void set_db_log_observer(DbLogObserver o) { observer() = std::move(o); }

}  // namespace dexweb
