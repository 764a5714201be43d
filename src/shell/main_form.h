#pragma once
// frmVTXWeb: the module's process anchor. It owns the per-run state that the poll cycle and
// the intake share (the one database object, the copies of the settings and control rows,
// the recipient dictionary and the blacklist), the two timers (repeat_timer: the poll
// cycle; tmrLog: the log flush), and the handlers that start and stop the module: Load and
// Unload in program mode, the service Start and Stop events in service mode. Every way out
// runs the one stop sequence and ends the process.

#include <functional>
#include <memory>
#include <string>

#include "config/gateway_settings.h"
#include "data/db_object.h"
#include "data/query_object.h"
#include "intake/blacklist.h"
#include "intake/leftover_files.h"
#include "intake/recipient_list.h"
#include "intake/writer_watch.h"
#include "platform/event_loop.h"
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

  // Program mode's close: the stop sequence with its short waits, then the process ends
  // (status 1 after a halt, 0 otherwise).
  [[noreturn]] void Unload();
  // The service Start event: true when the module was started.
  bool ServiceStart();
  // The service Stop event (SIGTERM under the service manager).
  [[noreturn]] void ServiceStop();
  // The module stopping itself: program mode unloads the form; service mode tells the
  // service manager it is stopping, then runs the Stop event.
  [[noreturn]] void StopModule();

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
  DateTime LastRefresh{};
  DateTime LastPoll{};
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
  [[noreturn]] void RefuseDatabase(const std::string& text);
  void PrepareRecordIds();
  void Refresh(bool first_tick);
  void ReadSettingsRow();
  void ReadControlRow();
  void PauseAtStart();
  void AlignClock(bool first_tick);
  void WaitForSchedulerTick();
  void Poll();
  void HourlyPing();

  int ReadRecordId(const std::string& table);
  void WriteControlFlag(const std::string& field, bool value, bool whole_table);

  platform::EventLoop& loop_;
  QueryObject query_;
  bool poll_again_ = false;
};

}  // namespace dexweb
