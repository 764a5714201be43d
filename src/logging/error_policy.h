#pragma once
// The module's one error policy. A step that can fail runs inside with_retry: when it raises
// a RuntimeError, the error routine classifies the error by number and either waits 1 to 2 s
// and lets the step run again, warns after repeated failures, or halts the module: it writes
// the halt line and throws ModuleHalted, which unwinds every procedure to the top of the
// run; there the stop sequence runs and the run ends with status 1. Keep steps small, so
// that running one again repeats no side effect.

#include <string_view>
#include <utility>

#include "util/runtime_error.h"

namespace dexweb {

// The run is over with status 1. Deliberately not a std::exception, so that no handler of
// ordinary errors can swallow it on its way to the top of the run. stop_sequence is false
// for a module that never started (the database refused at the first tick of a program).
struct ModuleHalted {
  bool stop_sequence = true;
};

// The error routine of every procedure of the daemon. Returns after the retry wait, or halts
// (throws ModuleHalted); a halt always runs the stop sequence, so that "Module Stopped" and
// the monitor's stop status are never missing.
void on_error(const RuntimeError& error, std::string_view procedure);

// True for the database error numbers that a retry can cure (locks, time-outs, lost
// connections).
bool is_retryable_db_error(int number);

// Runs step until it succeeds; each failure goes through on_error with procedure
// ("Procedure: " + name).
template <typename Step>
auto with_retry(std::string_view procedure, Step&& step) -> decltype(step()) {
  for (;;) {
    try {
      return step();
    } catch (const RuntimeError& e) {
      on_error(e, procedure);
    }
  }
}

}  // namespace dexweb
