#pragma once
// Logging never stops the module: each step that can fail runs through best_effort, which
// drops the step's error so that the next step still runs. A halt is no error of the step:
// it passes (ModuleHalted is no std::exception) on its way to the top of the run, since the
// events a step lets run may include a poll tick that halts.

#include <exception>

#include "platform/event_loop.h"

namespace dexweb {

template <typename Step>
void best_effort(Step&& step) {
  try {
    step();
  } catch (const std::exception&) {
    // Skipped on purpose: see above.
  }
}

// Lets due timers and signals run, without letting their errors into the caller.
inline void let_events_run() { best_effort([] { platform::process_pending(); }); }

}  // namespace dexweb
