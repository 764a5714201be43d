// The tick of poll_timer: open at the first tick, refresh the settings and control rows,
// obey pause and run, align the clock, poll the watched folder, ping the log hourly.
#include <cmath>
#include <limits>
#include <utility>

#include "config/registry_values.h"
#include "data/database_settings.h"
#include "data/dialect.h"
#include "data/sql_literals.h"
#include "intake/watched_folder.h"
#include "logging/error_policy.h"
#include "logging/log_event.h"
#include "logging/log_files.h"
#include "logging/log_state.h"
#include "logging/monitor_link.h"
#include "logging/stderr_echo.h"
#include "platform/clock.h"
#include "shell/internal/daemon.h"
#include "shell/internal/poll_report.h"
#include "util/module_name.h"

namespace dexweb {
namespace {

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

std::string from(const Dialect& dialect, const std::string& table) {
  return " FROM [" + table + "]" + dialect.table_hint();
}

}  // namespace

void Daemon::poll_tick() {
  policy.start_afresh();
  loop_.set_enabled(poll_timer, false);
  if (loop_.interval(poll_timer) != milliseconds{1000}) loop_.set_interval(poll_timer, milliseconds{1000});
  if (!db) {
    db = std::make_unique<DBObject>(database_settings(registry));
    db->SetErrorPolicy(&policy);
    db->Counter().record_id = counters_record_id;
  }
  query_.Clear();
  bool at_first_tick = first_tick;
  if (at_first_tick) open_at_first_tick();
  if (settings_record_id == 0) retried([&] { prepare_record_ids(); });

  bool refresh_due = whole_seconds_since(last_refresh) >= 3;
  bool poll_due = whole_seconds_since(last_poll) >= settings.dexweb_poll;
  if (refresh_due) refresh(at_first_tick);
  if (stop_requested_) return;
  if (InstantPickup()) {
    watch_folder();
    poll_due = poll_due || std::exchange(files_landed_, false);
  }
  poll_again_ = false;
  if (poll_due) poll_folder();
  hourly_ping();
  loop_.set_enabled(poll_timer, true);
  // The next poll comes as soon as the loop has served what is due (signals, the log
  // flush); every tick still refreshes on its own cadence.
  if (InstantPickup() && (poll_again_ || files_landed_)) loop_.fire_soon(poll_timer);
}

bool Daemon::InstantPickup() const { return registry.Instant_Pickup; }

// Looked at every tick: a folder renamed away and made anew is the one watched from then on.
void Daemon::watch_folder() {
  std::string folder = settings.dexwebcgi_path;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  if (folder_watch_ && folder_watch_->watching() && folder_watch_->folder() == folder &&
      std::optional(folder_watch_->identity()) == platform::folder_identity(folder))
    return;
  folder_watch_.reset();
  if (folder.empty()) return;
  folder_watch_ = platform::FolderWatch::start(loop_, folder, kMessageFileSuffix, [this] { files_landed(); });
  // Files that landed before the watch began are found by the next poll, which lists the
  // folder anew.
  folder_index_.invalidate();
  if (folder_watch_) files_landed_ = true;
}

FolderIndex* Daemon::current_folder_index() {
  if (!InstantPickup() || !folder_watch_ || !folder_watch_->watching()) return nullptr;
  platform::FolderWatch::Landed landed = folder_watch_->take_landed();
  if (landed.lost) folder_index_.invalidate();
  else folder_index_.landed(std::move(landed.names));
  return &folder_index_;
}

// Only a flag while a tick runs (its timer is disabled then): the tick's end looks at it.
void Daemon::files_landed() {
  files_landed_ = true;
  loop_.fire_soon(poll_timer);
}

// Why the database could not be opened, with what in the registry explains it.
std::string Daemon::open_failure(const std::string& reason) const {
  if (registry.DB_Dir.empty())
    return "No DB_Dir in the registry file " + registry.file + ": no database to open";
  // The engine's own line, the last of the reason, names the file and the system's cause.
  std::string text = "Cannot open the database: " + reason.substr(reason.find_last_of("\r\n") + 1);
  if (const auto problem = find_registry_value(kVelotraxKey, "DB_Dir")->problem(registry.DB_Dir))
    text += " (DB_Dir " + *problem + ")";
  return text;
}

void Daemon::open_at_first_tick() {
  std::string reason = "the database layer gave no reason";
  bool opened = false;
  try {
    opened = db->OpenDb();
  } catch (const RuntimeError& e) {
    reason = e.description();
  }
  if (!opened) refuse_database("Failed to open database", open_failure(reason));
  // A damaged file halts the module before anything is read from it or written into it.
  retried([&] { db->CheckIntegrity(); });
  auto rs = retried([&] { return db->OpenRecordset("SELECT [dbversion], [log_to_disk], [log_level]" + from(db->SqlDialect(), "settings")); });
  if (!rs || rs->Eof())
    refuse_database("Module stopped. Database version conflict", "The settings table has no row (dbversion 1100 needed)");
  if (rs->AsLong("dbversion") != kRequiredDbVersion)
    refuse_database("Module stopped. Database version conflict",
                    "The settings row says dbversion " + rs->AsText("dbversion") + "; this module needs 1100");
  // A value that does not convert is the tick's error like any other: halt line, stop
  // sequence and "stopped" datagram.
  retried([&] {
    log_state().log_to_disk = rs->AsBool("log_to_disk");
    log_state().log_level = rs->AsLong("log_level");
  });
  free_recordset(rs);
  platform::set_server_time_offset(milliseconds{0});
  if (db->UsesServer()) {
    auto server = retried([&] { return db->OpenRecordset("SELECT" + db->SqlDialect().now_expression() + "AS server_time"); });
    if (server && !server->Eof())
      platform::set_server_time_offset(std::chrono::duration_cast<milliseconds>(server->AsDate("server_time") - platform::local_now()));
  }
}

void Daemon::refuse_database(const std::string& text, const std::string& cause) {
  for (const std::string* line : {&text, &cause}) {
    log_general(*line);
    if (!echoes_log_lines()) echo_line(std::string(kModuleName) + ": " + *line);
  }
  monitor_status(LogCategory::Stopped);
  flush_log_queues();
  policy.note_halt();
  // Under the service manager the module stops as it does for a halt; a program just ends.
  if (service_mode()) throw ModuleHalted{};
  try {
    free_database(db);
  } catch (const RuntimeError&) {
    // The refusal is already logged and the program ends: a failing close has nothing to add.
  }
  throw ModuleHalted{false};
}

int Daemon::read_record_id(const std::string& table) {
  auto rs = db->OpenRecordset("SELECT [record_id]" + from(db->SqlDialect(), table));
  int id = rs && !rs->Eof() ? rs->AsLong("record_id") : 0;
  free_recordset(rs);
  return id;
}

void Daemon::prepare_record_ids() {
  settings_record_id = read_record_id("settings");
  settings_query =
      "SELECT [dexmail_enabled], [postmaster], [domain], [dexwebcgi_path], [retry_interval], [dexweb_poll], "
      "[log_to_disk], [log_level]" + from(db->SqlDialect(), "settings") + row_filter(settings_record_id);
  control_record_id = read_record_id("control");
  control_query = "SELECT [dexweb_pause], [dexweb_run], [sched_state], [velotrax_time]" +
                  from(db->SqlDialect(), "control") + row_filter(control_record_id);
  counters_record_id = read_record_id("counters");
  db->Counter().record_id = counters_record_id;
}

void Daemon::read_settings_row() {
  auto rs = db->OpenRecordset(settings_query);
  if (rs && !rs->Eof()) {
    settings.dexmail_enabled = rs->AsBool("dexmail_enabled");
    settings.postmaster = rs->AsText("postmaster");
    settings.domain = rs->AsText("domain");
    settings.dexwebcgi_path = rs->AsText("dexwebcgi_path");
    settings.retry_interval = rs->AsLong("retry_interval");
    settings.dexweb_poll = rs->AsLong("dexweb_poll");
    settings.log_to_disk = rs->AsBool("log_to_disk");
    settings.log_level = rs->AsLong("log_level");
  }
  free_recordset(rs);
  log_state().log_to_disk = settings.log_to_disk;
  log_state().log_level = settings.log_level;
  settings.retry_interval_text = std::to_string(settings.retry_interval);
}

void Daemon::read_control_row() {
  auto rs = db->OpenRecordset(control_query);
  if (rs && !rs->Eof()) {
    control_row_seen_ = true;
    settings.dexweb_pause = rs->AsBool("dexweb_pause");
    settings.dexweb_run = rs->AsBool("dexweb_run");
    settings.sched_state = rs->AsBool("sched_state");
    settings.velotrax_time = rs->IsNull("velotrax_time") ? DateTime{} : rs->AsDate("velotrax_time");
  }
  free_recordset(rs);
}

void Daemon::write_control_flag(const std::string& field, bool value, bool whole_table) {
  std::string where = whole_table ? "" : "[record_id] =" + sql_number(control_record_id);
  db->Execute(query_.Build(db->SqlDialect(), QueryObject::kUpdate, "control", {field, value}, where));
}

void Daemon::refresh(bool at_first_tick) {
  last_refresh = platform::clock().steady_now();
  read_monitor_settings(registry);
  settings.mail_out_dir = mail_out_folder();
  monitor_status(LogCategory::Running);
  retried([&] { read_settings_row(); });
  retried([&] { read_control_row(); });
  if (at_first_tick && load_blacklist) retried([&] { load_blacklist(*this); });
  if (settings.dexweb_pause) {
    if (!at_first_tick) {
      log_general("Running cleanup routine");
      tell_operator("dexweb_pause is true in the control row: stopping; run `dexwebctl resume`");
      return request_stop(true);
    }
    tell_operator("dexweb_pause is true in the control row: waiting up to 300 s; run `dexwebctl resume`");
    pause_at_start();
    if (stop_requested_) return;
  }
  align_clock(at_first_tick);
  if (!settings.dexweb_run) {
    // The copy of the control row starts empty: without a row, the module does not run.
    tell_operator(control_row_seen_ ? "dexweb_run is false in the control row: stopping; run `dexwebctl start`"
                              : "The control table has no row, so dexweb_run reads false: stopping; "
                                "add the gateway's control row");
    return request_stop(true);
  }
  last_refresh = platform::clock().steady_now();
}

void Daemon::pause_at_start() {
  retried([&] { write_control_flag("dexweb_state", false, false); });
  for (int i = 0; i < kPauseAtStartSeconds && settings.dexweb_pause && !stop_requested_; ++i) {
    wait_or_stop(1);
    retried([&] { read_control_row(); });
  }
  if (stop_requested_) return;
  retried([&] { write_control_flag("dexweb_run", true, false); });
  settings.dexweb_run = true;
  sync_pending = true;
  log_general("Module resumed");
}

void Daemon::poll_folder() {
  last_poll = platform::clock().steady_now();
  bool found = false;
  if (settings.dexweb_run && check_for_messages) {
    recipients.clear();
    found = check_for_messages(*this);
    report_poll(*this);
  }
  first_poll = false;
  last_poll = platform::clock().steady_now();
  // Files their writers hold open: the watch tells when they are closed.
  if (found && files_held_only && InstantPickup()) found = false;
  if (found) {
    last_poll.reset();
    poll_again_ = true;
  } else if (loop_.interval(poll_timer) < milliseconds{1000}) {
    loop_.set_interval(poll_timer, milliseconds{1000});
  }
}

void Daemon::hourly_ping() {
  int hour = civil(platform::server_now()).hour;
  if (hour == log_ping_hour) return;
  log_ping_hour = hour;
  if (!db || !db->UsesServer()) {
    // The embedded database is closed once an hour so that its file can be backed up or
    // compacted by other tools; the next operation opens it again. The object stays, so
    // that the open knows whether the file is still the one it had.
    if (db) db->CloseDb();
    wait_or_stop(3);
  }
  log_detail("Log ping...");
}

}  // namespace dexweb
