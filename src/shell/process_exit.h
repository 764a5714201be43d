#pragma once
// Ending the process from any depth (a halt inside a nested wait, a refusal at start).

namespace dexweb {

// Flushes the standard streams and ends the process with status.
[[noreturn]] void end_process(int status);

}  // namespace dexweb
