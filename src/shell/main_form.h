#pragma once
// frmVTXWeb: the module's process anchor. It owns the per-run state that the poll cycle and
// the intake share, the two timers (repeat_timer: the poll cycle; tmrLog: the log flush),
// and the handlers that start and stop the module: Load and Unload in program mode, the
// service Start and Stop events in service mode. Both stops run the one stop sequence and
// end the process.

#include <string>

#include "platform/event_loop.h"

namespace dexweb {

class MainForm {
 public:
  explicit MainForm(platform::EventLoop& loop);
  ~MainForm();
  MainForm(const MainForm&) = delete;
  MainForm& operator=(const MainForm&) = delete;

  // The load handler: sets the per-run fields and creates the timers.
  void Load();
  // Switches the poll timer on; its first tick comes 100 ms later.
  void EnablePollTimer();

  // Program mode's close: the stop sequence with its short waits, then the process ends.
  [[noreturn]] void Unload();
  // The service Start event: true when the module was started.
  bool ServiceStart();
  // The service Stop event (SIGTERM under the service manager).
  [[noreturn]] void ServiceStop();

  // Per-run fields of the load handler.
  bool SyncPending = true;
  bool FirstTick = true;
  bool FirstPoll = true;
  int LogPingHour = 0;
  std::string InterfaceName = "DexWeb";
  std::string MachineName;
  std::string TempFolder;

  platform::EventLoop::TimerId repeat_timer = 0;
  platform::EventLoop::TimerId tmrLog = 0;

 private:
  void StopSequence(bool unloading);
  void PollTick();
  void LogTick();

  platform::EventLoop& loop_;
};

}  // namespace dexweb
