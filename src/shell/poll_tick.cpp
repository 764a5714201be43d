// The tick of repeat_timer: open at the first tick, refresh the settings and control rows,
// obey pause and run, align the clock, poll the watched folder, ping the log hourly.
#include <cmath>
#include <limits>
#include <utility>

#include "config/globals.h"
#include "data/dialect.h"
#include "data/sql_literals.h"
#include "intake/folder_scan.h"
#include "logging/error_policy.h"
#include "logging/log_event.h"
#include "logging/log_files.h"
#include "logging/log_state.h"
#include "logging/monitor_link.h"
#include "logging/stderr_echo.h"
#include "platform/clock.h"
#include "shell/main_form.h"
#include "shell/poll_report.h"

namespace dexweb {
namespace {

constexpr std::string_view kProcedure = "Procedure: repeat_timer";
constexpr int kRequiredDbVersion = 1100;
constexpr int kPauseAtStartSeconds = 300;

using std::chrono::milliseconds;
using std::chrono::seconds;

// Whole seconds since `since` on the steady time; never is long ago.
long long whole_seconds_since(const std::optional<platform::SteadyPoint>& since) {
  if (!since) return std::numeric_limits<long long>::max();
  return std::chrono::duration_cast<seconds>(platform::clock().steady_now() - *since).count();
}

std::string row_filter(int record_id) { return " WHERE ([record_id] =" + sql_number(record_id) + ")"; }

std::string from(const std::string& table) { return " FROM [" + table + "]" + globals().NoLockHint; }

template <typename Step>
auto retried(Step&& step) {
  return with_retry(kProcedure, std::forward<Step>(step));
}

}  // namespace

void MainForm::PollTick() {
  globals().RetryCount = 0;
  globals().RetryRound = 0;
  loop_.set_enabled(repeat_timer, false);
  if (loop_.interval(repeat_timer) != milliseconds{1000}) loop_.set_interval(repeat_timer, milliseconds{1000});
  if (!db) db = std::make_unique<DBObject>();
  query_.Clear();
  bool first_tick = FirstTick;
  if (first_tick) OpenAtFirstTick();
  if (SettingsRecordId == 0) retried([&] { PrepareRecordIds(); });

  bool refresh_due = whole_seconds_since(LastRefresh) >= 3;
  bool poll_due = whole_seconds_since(LastPoll) >= Settings.dexweb_poll;
  if (refresh_due) Refresh(first_tick);
  if (stop_requested_) return;
  if (InstantPickup()) {
    if (refresh_due) WatchFolder();
    poll_due = poll_due || std::exchange(files_landed_, false);
  }
  poll_again_ = false;
  if (poll_due) Poll();
  HourlyPing();
  loop_.set_enabled(repeat_timer, true);
  // The next poll comes as soon as the loop has served what is due (signals, the log
  // flush); every tick still refreshes on its own cadence.
  if (InstantPickup() && (poll_again_ || files_landed_)) loop_.fire_soon(repeat_timer);
}

bool MainForm::InstantPickup() const { return globals().Registry.Instant_Pickup; }

void MainForm::WatchFolder() {
  std::string folder = Settings.dexwebcgi_path;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  if (folder_watch_ && folder_watch_->watching() && folder_watch_->folder() == folder) return;
  folder_watch_.reset();
  if (folder.empty()) return;
  folder_watch_ = platform::FolderWatch::start(loop_, folder, kMessageFileSuffix, [this] { FilesLanded(); });
  // Files that landed before the watch began are found by the next poll.
  if (folder_watch_) files_landed_ = true;
}

// Only a flag while a tick runs (its timer is disabled then): the tick's end looks at it.
void MainForm::FilesLanded() {
  files_landed_ = true;
  loop_.fire_soon(repeat_timer);
}

void MainForm::OpenAtFirstTick() {
  bool opened = false;
  try {
    opened = db->OpenDb();
  } catch (const RuntimeError&) {
  }
  if (!opened) RefuseDatabase("Failed to open database");
  auto rs = retried([&] { return db->OpenRecordset("SELECT [dbversion], [log_to_disk], [log_level]" + from("settings")); });
  if (!rs || rs->Eof() || rs->AsLong("dbversion") != kRequiredDbVersion)
    RefuseDatabase("Module stopped. Database version conflict");
  // A value that does not convert is the tick's error like any other: halt line, stop
  // sequence and "stopped" datagram.
  retried([&] {
    log_state().LogToDisk = rs->AsBool("log_to_disk");
    log_state().LogLevel = rs->AsLong("log_level");
  });
  FreeRs(rs);
  globals().TimeOffset = milliseconds{0};
  if (globals().UseSqlServer) {
    auto server = retried([&] { return db->OpenRecordset("SELECT" + current_dialect().now_expression() + "AS server_time"); });
    if (server && !server->Eof())
      globals().TimeOffset = std::chrono::duration_cast<milliseconds>(server->AsDate("server_time") - platform::local_now());
  }
}

void MainForm::RefuseDatabase(const std::string& text) {
  log_event("general", "monitor/disk", "general", text);
  if (!echoes_log_lines()) echo_line(globals().ModuleName + ": " + text);
  log_event("general", "monitor", "stopped", "");
  flush_log_queues_after_running_flush();
  platform::DoEvents();
  globals().ProgramHalted = true;
  // Under the service manager the module stops as it does for a halt; a program just ends.
  if (ServiceMode()) throw ModuleHalted{};
  try {
    FreeDb(db);
  } catch (const RuntimeError&) {
  }
  throw ModuleHalted{false};
}

int MainForm::ReadRecordId(const std::string& table) {
  auto rs = db->OpenRecordset("SELECT [record_id]" + from(table));
  int id = rs && !rs->Eof() ? rs->AsLong("record_id") : 0;
  FreeRs(rs);
  return id;
}

void MainForm::PrepareRecordIds() {
  SettingsRecordId = ReadRecordId("settings");
  SettingsQuery =
      "SELECT [dexmail_enabled], [postmaster], [domain], [dexwebcgi_path], [retry_interval], [dexweb_poll], "
      "[log_to_disk], [log_level]" + from("settings") + row_filter(SettingsRecordId);
  ControlRecordId = ReadRecordId("control");
  ControlQuery = "SELECT [dexweb_pause], [dexweb_run], [sched_state], [velotrax_time]" + from("control") +
                 row_filter(ControlRecordId);
  globals().CountersRecordId = ReadRecordId("counters");
}

void MainForm::ReadSettingsRow() {
  auto rs = db->OpenRecordset(SettingsQuery);
  if (rs && !rs->Eof()) {
    Settings.dexmail_enabled = rs->AsBool("dexmail_enabled");
    Settings.postmaster = rs->AsText("postmaster");
    Settings.domain = rs->AsText("domain");
    Settings.dexwebcgi_path = rs->AsText("dexwebcgi_path");
    Settings.retry_interval = rs->AsLong("retry_interval");
    Settings.dexweb_poll = rs->AsLong("dexweb_poll");
    Settings.log_to_disk = rs->AsBool("log_to_disk");
    Settings.log_level = rs->AsLong("log_level");
  }
  FreeRs(rs);
  log_state().LogToDisk = Settings.log_to_disk;
  log_state().LogLevel = Settings.log_level;
  Settings.retry_interval_text = std::to_string(Settings.retry_interval);
}

void MainForm::ReadControlRow() {
  auto rs = db->OpenRecordset(ControlQuery);
  if (rs && !rs->Eof()) {
    Settings.dexweb_pause = rs->AsBool("dexweb_pause");
    Settings.dexweb_run = rs->AsBool("dexweb_run");
    Settings.sched_state = rs->AsBool("sched_state");
    Settings.velotrax_time = rs->IsNull("velotrax_time") ? DateTime{} : rs->AsDate("velotrax_time");
  }
  FreeRs(rs);
}

void MainForm::WriteControlFlag(const std::string& field, bool value, bool whole_table) {
  std::string where = whole_table ? "" : "[record_id] =" + sql_number(ControlRecordId);
  db->Execute(query_.Build(QueryObject::kUpdate, "control", {field, value}, where));
}

void MainForm::Refresh(bool first_tick) {
  LastRefresh = platform::clock().steady_now();
  read_monitor_settings();
  Settings.MailOutDir = globals().Registry.DB_Dir + "MailOut/";
  log_event("general", "monitor", "running", "");
  retried([&] { ReadSettingsRow(); });
  retried([&] { ReadControlRow(); });
  platform::DoEvents();
  if (first_tick && load_blacklist) retried([&] { load_blacklist(*this); });
  if (Settings.dexweb_pause) {
    if (!first_tick) {
      log_event("general", "monitor/disk", "general", "Running cleanup routine");
      return RequestStop(true);
    }
    PauseAtStart();
    if (stop_requested_) return;
  }
  AlignClock(first_tick);
  if (!Settings.dexweb_run) return RequestStop(true);
  LastRefresh = platform::clock().steady_now();
}

void MainForm::PauseAtStart() {
  retried([&] { WriteControlFlag("dexweb_state", false, false); });
  for (int i = 0; i < kPauseAtStartSeconds && Settings.dexweb_pause && !stop_requested_; ++i) {
    platform::wait_seconds(1);
    retried([&] { ReadControlRow(); });
  }
  if (stop_requested_) return;
  retried([&] { WriteControlFlag("dexweb_run", true, false); });
  Settings.dexweb_run = true;
  SyncPending = true;
  log_event("general", "monitor/disk", "general", "Module resumed");
}

void MainForm::Poll() {
  LastPoll = platform::clock().steady_now();
  bool found = false;
  if (Settings.dexweb_run && check_for_messages) {
    Recipients.Clear();
    found = check_for_messages(*this);
    report_poll(*this);
  }
  FirstPoll = false;
  LastPoll = platform::clock().steady_now();
  if (found) {
    LastPoll.reset();
    poll_again_ = true;
  } else if (loop_.interval(repeat_timer) < milliseconds{1000}) {
    loop_.set_interval(repeat_timer, milliseconds{1000});
  }
}

void MainForm::HourlyPing() {
  int hour = civil(ServerNow()).hour;
  if (hour == LogPingHour) return;
  LogPingHour = hour;
  if (!globals().UseSqlServer) {
    // The embedded database is closed once an hour so that its file can be backed up or
    // compacted by other tools; the next operation opens it again.
    platform::DoEvents();
    FreeDb(db);
    platform::wait_seconds(3);
  }
  log_event("detail", "monitor/disk", "general", "Log ping...");
}

}  // namespace dexweb
