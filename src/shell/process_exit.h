#pragma once
// Ending the process from any depth (a halt inside a nested wait, a refusal at start).

#include <functional>

namespace dexweb {

// Flushes the standard streams and ends the process with status.
[[noreturn]] void end_process(int status);

// Tests replace the end of the process with a hook that must not return (it throws);
// an empty hook restores the real exit.
void set_process_end_hook(std::function<void(int)> hook);

}  // namespace dexweb
