#pragma once
// The process and what surrounds it: the other programs it starts (never through a shell),
// the service manager it runs under (systemd), its terminal and the machine's page size.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

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

// The service manager's side of the platform (systemd): the notification socket that
// stands for the Start event, and the commands that register a unit.
//
// True when $NOTIFY_SOCKET names a notification socket.
bool notify_socket_present();
// Sends one notification ("READY=1", "STOPPING=1"); false when there is no socket or the
// send failed.
bool notify_service_manager(std::string_view state);
// The watchdog interval the service manager asks for ($WATCHDOG_USEC, for this process when
// $WATCHDOG_PID names one); nullopt when there is none.
std::optional<std::chrono::microseconds> watchdog_interval();
// True when systemd is the running init (so systemctl can be asked).
bool systemd_running();
// Runs systemctl with the arguments and waits; its exit status, or -1.
int run_systemctl(const std::string& verb, const std::string& unit);

// Whether an output of the process is a terminal (colour and such make sense there).
bool is_terminal(int fd);

// The memory page size in bytes, or 0 when the system does not report one.
std::size_t page_size();

}  // namespace dexweb::platform
