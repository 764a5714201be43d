#pragma once
// The module-wide values below the logging (the logging's own are in logging/log_state.h).
// Everything else that lives for the process is owned by an object (the daemon, the
// database object, the loop).

#include <chrono>
#include <string>

#include "util/datetime.h"

#include "config/registry_settings.h"

namespace dexweb {

class Daemon;

struct Globals {
  std::string module_name = "VTXWeb";
  bool program_halted = false;
  bool db_error_halted = false;
  bool service_started = false;
  // The error routine's counters: failed attempts in this round, warning rounds given.
  int retry_count = 0;
  int retry_round = 0;
  // server_now = local time + time_offset (the gateway's clock).
  std::chrono::milliseconds time_offset{0};
  RegistrySettings registry;
  // The daemon while the module runs (not owned): module procedures reach its timers
  // and its stop sequence through it.
  Daemon* daemon = nullptr;
};

// The logging's module-wide values are in logging/log_state.h, whose reset_globals() puts
// these and those back to their start values.
Globals& globals();

// Local time plus time_offset: every time stamp of the module.
DateTime server_now();

}  // namespace dexweb
