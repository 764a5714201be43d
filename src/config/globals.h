#pragma once
// The module-wide values, gathered in one place. Everything else that lives for the
// process is owned by an object (the main form, the database object, the loop).

#include <chrono>
#include <string>

#include "util/datetime.h"

#include "config/registry_settings.h"

namespace dexweb {

class MainForm;

struct Globals {
  std::string ModuleName = "VTXWeb";
  bool ProgramHalted = false;
  bool DbErrorHalted = false;
  bool ServiceStarted = false;
  bool LogToDisk = true;
  int LogLevel = 3;
  // The error routine's counters: failed attempts in this round, warning rounds given.
  int RetryCount = 0;
  int RetryRound = 0;
  // ServerNow = local time + TimeOffset (the gateway's clock).
  std::chrono::milliseconds TimeOffset{0};
  RegistrySettings Registry;
  // The main form while the module runs (not owned): module procedures reach its timers
  // and its stop sequence through it.
  MainForm* Form = nullptr;
};

Globals& globals();
// Puts every value back to its start value (tests).
void reset_globals();

// Local time plus TimeOffset: every time stamp of the module.
DateTime ServerNow();

}  // namespace dexweb
