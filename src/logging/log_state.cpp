#include "logging/log_state.h"

#include "config/globals.h"

namespace dexweb {

std::string queued_text(const LogQueue& queue) {
  std::string out;
  for (const QueuedLine& q : queue) out.append(q.line).append("\r\n");
  return out;
}

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
