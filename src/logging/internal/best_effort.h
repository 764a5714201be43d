#pragma once
// Logging never stops the module: each step that can fail runs through best_effort, which
// drops the step's error so that the next step still runs. A halt or a stop is no error of
// the step: ModuleHalted and platform::StopRequested are no std::exception and pass.

#include <exception>

namespace dexweb {

template <typename Step>
void best_effort(Step&& step) {
  try {
    step();
  } catch (const std::exception&) {
    // Skipped on purpose: see above.
  }
}

}  // namespace dexweb
