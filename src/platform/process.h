#pragma once
// Starting other programs, never through a shell.

#include <chrono>
#include <string>
#include <vector>

namespace dexweb::platform {

// Starts argv[0] (searched in PATH when it has no '/') with the given arguments and does
// not wait for it; the child is reaped automatically. False when it could not be started.
bool spawn_detached(const std::vector<std::string>& argv);

// How a program run with a time limit ended.
struct ProgramRun {
  enum class End { Exited, Signalled, TimedOut, NotStarted };
  End end = End::NotStarted;
  int code = 0;  // the exit status, the signal that ended it, or the errno that kept it from starting
};

// Starts the program (argv[0] searched in PATH when it has no '/') in a process group of its
// own and waits for it at most `limit` of real time, whatever clock the module runs on,
// letting the event loop run between checks. A program still running at the limit, or when
// an event handler's exception leaves the wait, is killed with its whole process group and
// reaped.
ProgramRun run_and_wait(const std::vector<std::string>& argv, std::chrono::milliseconds limit);

// Splits a command line into arguments: blanks separate them, double quotes group words and
// are removed.
std::vector<std::string> split_command_line(const std::string& command_line);

}  // namespace dexweb::platform
