#pragma once
// The module's entry: settings, command line, single instance, and the start as a program
// or under the service manager.

namespace dexweb {

// Runs the module; returns the process's exit status (0 normal stop, 1 halt or refusal,
// 2 invalid command-line option).
int Main(int argc, char** argv);

}  // namespace dexweb
