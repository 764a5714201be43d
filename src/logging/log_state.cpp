#include "logging/log_state.h"

#include "platform/clock.h"
#include "platform/event_loop.h"

namespace dexweb {

std::string log_line(std::string_view stamp, std::string_view text) {
  std::string line(stamp);
  line.append("  ").append(text);
  return line;
}

std::string queued_text(const LogQueue& queue) {
  std::string out;
  for (const QueuedLine& q : queue) out.append(q.line).append("\r\n");
  return out;
}

void reset_log_state() { log_state() = LogState{}; }

void reset_process_state() {
  platform::set_server_time_offset(std::chrono::milliseconds{0});
  platform::clear_stop_request();
  reset_log_state();
}

}  // namespace dexweb
