#pragma once
// Starting other programs, never through a shell.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/fd.h"

namespace dexweb::platform {


// How a program run with a time limit ended.
struct ProgramRun {
  enum class End { Exited, Signalled, TimedOut, NotStarted };
  End end = End::NotStarted;
  int code = 0;  // the exit status, the signal that ended it, or the errno that kept it from starting
};

// Starts the program (argv[0] searched in PATH when it has no '/') in a process group of its
// own and waits for it at most `limit` of real time, whatever clock the module runs on; a
// stop request does not shorten it. A program still running at the limit is killed with its
// whole process group and reaped.
ProgramRun run_and_wait(const std::vector<std::string>& argv, std::chrono::milliseconds limit);

// A program started without waiting, whose caller can later ask, without blocking, whether
// it still runs. The handle keeps a pid file descriptor, so the answer stays about this very
// process even if its pid were reused, and reaps the process when it finds it ended.
class ChildProcess {
 public:
  // No process.
  ChildProcess() = default;
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Reaps the process when it has ended. One still running is left to run, never killed
  // nor waited for; it is reaped when this process ends.
  ~ChildProcess();

  // Starts argv[0] (searched in PATH when it has no '/') with the given arguments, without a
  // shell and without waiting for it. The handle is empty (and running() false) when the
  // program could not be started: fork failed, or exec failed (not found, not executable).
  static ChildProcess start(const std::vector<std::string>& argv);

  // True while the process runs. Never blocks; once it finds the process ended it reaps it,
  // empties the handle and answers false from then on.
  bool running();

  pid_t pid() const { return pid_; }

 private:
  ChildProcess(pid_t pid, Fd pidfd) : pid_(pid), pidfd_(std::move(pidfd)) {}

  pid_t pid_ = -1;
  Fd pidfd_;
};

// Splits a command line into arguments: blanks separate them, double quotes group words and
// are removed.
std::vector<std::string> split_command_line(const std::string& command_line);

}  // namespace dexweb::platform
