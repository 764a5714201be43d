#include "logging/log_state.h"

#include <utility>

#include "config/globals.h"
#include "platform/clock.h"

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

LoggingLoan::LoggingLoan(const RegistrySettings& registry, ErrorPolicy& policy)
    : previous_registry_(log_state().registry), previous_policy_(log_state().error_policy) {
  log_state().registry = &registry;
  log_state().error_policy = &policy;
}

LoggingLoan::~LoggingLoan() {
  log_state().registry = previous_registry_;
  log_state().error_policy = previous_policy_;
}

const RegistrySettings& logging_registry() {
  static const RegistrySettings kOutsideARun;
  const RegistrySettings* lent = log_state().registry;
  return lent ? *lent : kOutsideARun;
}

// What a run lent stays lent: the loan ends only with its owner.
void reset_log_state() {
  LogState fresh;
  fresh.registry = log_state().registry;
  fresh.error_policy = log_state().error_policy;
  log_state() = std::move(fresh);
}

void reset_globals() {
  globals() = Globals{};
  platform::set_server_time_offset(std::chrono::milliseconds{0});
  reset_log_state();
}

}  // namespace dexweb
