#pragma once
// Starting other programs, never through a shell.

#include <string>
#include <vector>

namespace dexweb::platform {

// Starts argv[0] (searched in PATH when it has no '/') with the given arguments and does
// not wait for it; the child is reaped automatically. False when it could not be started.
bool spawn_detached(const std::vector<std::string>& argv);

// Starts the program and waits for it; its exit status, or -1 when it could not be started
// or did not exit normally.
int run_and_wait(const std::vector<std::string>& argv);

// Splits a command line into arguments: blanks separate them, double quotes group words and
// are removed.
std::vector<std::string> split_command_line(const std::string& command_line);

}  // namespace dexweb::platform
