#include "logging/log_state.h"

#include "config/globals.h"

namespace dexweb {

LogState& log_state() {
  static LogState state;
  return state;
}

void reset_log_state() { log_state() = LogState{}; }

void reset_globals() {
  globals() = Globals{};
  reset_log_state();
}

}  // namespace dexweb
