#pragma once
// Finding the processes of a program by name, as any user may (through /proc/PID/comm,
// which holds at most the first 15 bytes of the name).

#include <string_view>
#include <vector>

namespace dexweb::platform {

// The ids of the processes whose command name is name, in increasing order; empty when
// there are none or /proc cannot be read.
std::vector<int> processes_named(std::string_view name);

}  // namespace dexweb::platform
