#pragma once
// frmVTXWeb: the module's process anchor. It owns the per-run state that the poll cycle and
// the intake share (the one database object, the copies of the settings and control rows,
// the recipient dictionary and the blacklist), the two timers (repeat_timer: the poll
// cycle; tmrLog: the log flush), and the run itself: Run turns the event loop until a stop
// is requested or the module halts, then runs the one stop sequence and returns the exit
// status. A stop request (a signal, the control row) only sets a flag: it is acted on at
// the top of the loop, between message files, never inside the work of one file.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "config/gateway_settings.h"
#include "data/db_object.h"
#include "data/query_object.h"
#include "intake/blacklist.h"
#include "intake/leftover_files.h"
#include "intake/recipient_list.h"
#include "intake/writer_watch.h"
#include "logging/error_policy.h"
#include "platform/event_loop.h"
#include "platform/folder_watch.h"
#include "platform/private_files.h"
#include "util/datetime.h"

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

  // The service Start event: true when the module was started.
  bool ServiceStart();

  // Asks the run to end: from a signal or the service manager (by_module false), or from
  // the module itself (the control row's run flag or pause; under the service manager it
  // then says STOPPING=1). Only sets the flag.
  void RequestStop(bool by_module);
  bool StopRequested() const { return stop_requested_; }
  // An operator's request (SIGHUP) to read the blacklist and the monitor settings again;
  // acted on at the top of the loop. It never stops the module.
  void ReloadOnRequest();

  // Turns the event loop until a stop is requested or the module halts, then ends the run.
  int Run();
  // The end of the run: the stop sequence (program mode with its short waits), and the exit
  // status: 1 after a halt, 0 otherwise.
  int Finish();
  // What the top of the run does with a halt that unwound to it: the stop sequence unless
  // the module never started; always status 1.
  int Finish(const ModuleHalted& halt);

  // One tick of repeat_timer (public for tests that drive the cycle tick by tick).
  void PollTick();

  // The poll of the watched folder (true when it held message files) and the blacklist's
  // load at the first refresh: the intake's, unless a test replaces them.
  std::function<bool(MainForm&)> check_for_messages;
  std::function<void(MainForm&)> load_blacklist;

  // Per-run fields of the load handler.
  bool SyncPending = true;
  bool FirstTick = true;
  bool FirstPoll = true;
  int LogPingHour = 0;
  std::string InterfaceName = "DexWeb";
  std::string MachineName;
  std::string TempFolder;

  // Poll-cycle state.
  // On the steady time; empty until the first refresh and poll, and a poll that found files
  // empties LastPoll so that the next tick polls again.
  std::optional<platform::SteadyPoint> LastRefresh;
  std::optional<platform::SteadyPoint> LastPoll;
  DateTime LastVelotraxTime{};
  int SettingsRecordId = 0;
  int ControlRecordId = 0;
  std::string SettingsQuery;
  std::string ControlQuery;
  GatewaySettings Settings;

  std::unique_ptr<DBObject> db;
  RecipientList Recipients;  // emptied before every poll
  BlackList Blacklist;       // read once, at the first refresh
  LeftoverFiles Leftovers;   // worked files that could not be deleted
  WriterWatch Writers;       // web files whose writers may not have finished
  std::unique_ptr<platform::PrivateFolder> PrivateTemp;  // removed at stop

  platform::EventLoop::TimerId repeat_timer = 0;
  platform::EventLoop::TimerId tmrLog = 0;

 private:
  void StopSequence(bool unloading);
  void LogTick();
  std::string make_private_temp_folder();

  // Steps of the tick, in their order.
  void OpenAtFirstTick();
  // Throws ModuleHalted.
  [[noreturn]] void RefuseDatabase(const std::string& text);
  bool ServiceMode() const;
  void ReloadIfRequested();
  void PrepareRecordIds();
  void Refresh(bool first_tick);
  void ReadSettingsRow();
  void ReadControlRow();
  void PauseAtStart();
  void AlignClock(bool first_tick);
  void WaitForSchedulerTick();
  void Poll();
  void HourlyPing();
  bool InstantPickup() const;
  // Watches the watched folder while instant pickup is on; the timer alone where it cannot.
  void WatchFolder();
  void FilesLanded();

  int ReadRecordId(const std::string& table);
  void WriteControlFlag(const std::string& field, bool value, bool whole_table);

  platform::EventLoop& loop_;
  QueryObject query_;
  bool poll_again_ = false;
  // Instant pickup: the folder watch, and a landing noticed that no poll has seen yet.
  std::unique_ptr<platform::FolderWatch> folder_watch_;
  bool files_landed_ = false;
  bool stop_requested_ = false;
  bool stop_by_module_ = false;
  bool reload_requested_ = false;
};

}  // namespace dexweb
