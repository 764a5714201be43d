// The daemon's run, and the tick of poll_timer: open at the first tick, refresh the settings
// and control rows, obey pause and run, align the clock, poll the watched folder, ping the
// log hourly.
#include "shell/internal/daemon.h"

#include <utility>

#include "config/registry.h"
#include "data/db_object.h"
#include "data/dialect.h"
#include "data/unique_ids.h"
#include "intake/refusals.h"
#include "intake/check_for_messages.h"
#include "intake/watched_folder.h"
#include "logging/log_event.h"
#include "logging/reporter.h"
#include "logging/monitor_link.h"
#include "notify/notifications.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/private_files.h"
#include "platform/registry_file.h"
#include "platform/process.h"
#include "shell/startup.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr int kRequiredDbVersion = 1100;
constexpr int kPauseAtStartSeconds = 300;

using std::chrono::milliseconds;

std::string from(const Dialect& dialect, const std::string& table) {
  return " FROM [" + table + "]" + dialect.table_hint();
}

}  // namespace

Daemon::Daemon(platform::EventLoop& loop, RegistrySettings settings_read_at_start, Poll poll)
    : registry_(std::move(settings_read_at_start)),
      policy_(registry_.Run_Type == "Application"),
      poll_(poll ? std::move(poll) : Poll([](Daemon& d) { return d.poll_intake(); })),
      reporter_(registry_, &policy_),
      reporter_install_(reporter_),
      loop_(loop) {}

Daemon::~Daemon() {
  loop_.remove_timer(poll_timer_);
  loop_.remove_timer(log_timer_);
}

void Daemon::load() {
  policy_.start_afresh();
  clock_sync_.wanted();
  schedule_.start(civil(platform::server_now()).hour);
  interface_name_ = "DexWeb";
  std::string host = text::left(platform::host_name(), 40);
  machine_name_ = host.empty() ? " " : host;
  poll_timer_ = loop_.add_timer(milliseconds{100}, [this] { poll_tick(); }, false);
  log_timer_ = loop_.add_timer(milliseconds{1000}, [] { flush_log_queues(); }, true);
}

void Daemon::settle_in_home() {
  const std::string home = platform::home_private_folder(registry_.DB_Dir);
  keep_name_sequence(home + "VTXWeb.names");
  try {
    private_temp_ = std::make_unique<platform::PrivateFolder>(home + "tmp/");
    temp_folder_ = private_temp_->path();
  } catch (const RuntimeError& e) {
    const std::string text = "Unable to create a private temporary folder: " + e.description();
    log_general(text);
    tell_operator(text);
    temp_folder_.clear();
  }
}

// Standard error is the journal of a service: what stops or holds the module, and why.
void Daemon::tell_operator(const std::string& text) { echo_line(std::string(kModuleName) + ": " + text); }

void Daemon::enable_poll_timer() { loop_.set_enabled(poll_timer_, true); }

std::string Daemon::mail_out_folder() const { return registry_.DB_Dir + "MailOut/"; }

void Daemon::remove_half_written_files() {
  auto remove = [](const std::string& folder, bool (*temporary)(std::string_view)) {
    try {
      const auto removed = platform::remove_files_before(folder, "", temporary, platform::TimePoint::max());
      if (!removed.empty())
        log_general(
                  "Removed " + std::to_string(removed.size()) + " half-written file" + (removed.size() == 1 ? "" : "s") +
                      " of an earlier run from " + folder);
    } catch (const RuntimeError& e) {
      log_general("Unable to remove the half-written files of an earlier run: " + e.description());
    }
  };
  if (!registry_.DB_Dir.empty()) remove(mail_out_folder(), is_mail_file_temporary);
  remove(bad_folder(registry_), is_bad_copy_temporary);
}

bool Daemon::service_start() {
  service_started_ = true;
  return start_module(*this);
}

void Daemon::stop_sequence(bool unloading) {
  // Every step is attempted: an error in one never keeps the process from ending, and after
  // a stop signal a step that would wait for a retry is given up.
  auto step = [](auto&& action) {
    try {
      action();
    } catch (const RuntimeError&) {
      // The stop goes on: the failure was logged by the error routine or has no reader left.
    } catch (const platform::StopRequested&) {
      // A second stop signal: the step's wait is given up, the stop goes on.
    }
  };
  // Not cut short by a stop: these pauses are part of the stop itself.
  auto pause = [&] {
    if (unloading) platform::clock().wait({}, platform::steady_after(0.1));
  };
  loop_.set_enabled(log_timer_, false);
  loop_.set_enabled(poll_timer_, false);
  if (!policy_.program_halted() && db_) step([&] { rows_.write_control_flag(*db_, "dexweb_state", false, true); });
  pause();
  log_general("Module Stopped");
  pause();
  monitor_status(LogCategory::Stopped);
  pause();
  if (!policy_.db_error_halted()) step([&] { free_database(db_); });
  private_temp_.reset();
  flush_log_queues();
}

bool Daemon::service_mode() const { return registry_.Run_Type == "NTService"; }

void Daemon::request_stop(bool by_module) {
  if (!stop_requested_) stop_by_module_ = by_module;
  stop_requested_ = true;
}

void Daemon::reload_on_request() { reload_requested_ = true; }

// An operator's SIGHUP, acted on between rounds of events so that no file's work sees the
// registry settings or the blacklist change under it.
void Daemon::reload_if_requested() {
  if (!std::exchange(reload_requested_, false)) return;
  RegistrySettings fresh = read_registry_settings(platform::RegistryFile(registry_.file));
  const std::string kept = fresh.keep_run_bound(registry_);
  if (!kept.empty()) tell_operator("Changed in the registry, used from the next start: " + kept);
  registry_ = std::move(fresh);
  read_monitor_settings(registry_);
  try {
    blacklist_.load(registry_.DB_Dir);
  } catch (const RuntimeError& e) {
    const std::string text = "Unable to read the blacklist: " + e.description();
    log_general(text);
    tell_operator(text);
  }
  log_general("Blacklist and monitor settings read again");
}

int Daemon::run() {
  try {
    loop_.run_until([this] {
      reload_if_requested();
      return stop_requested();
    });
  } catch (const ModuleHalted& halt) {
    return finish(halt);
  } catch (const platform::StopRequested&) {
    // The work in hand was abandoned on its way here.
  }
  return finish();
}

int Daemon::finish() {
  const bool service = service_mode();
  // Whoever asked for the stop, a service manager that started the process hears of it.
  platform::notify_service_manager("STOPPING=1");
  stop_sequence(!service);
  return policy_.program_halted() ? 1 : 0;
}

int Daemon::finish(const ModuleHalted& halt) {
  if (!halt.stop_sequence) return 1;
  stop_by_module_ = true;
  finish();
  return 1;
}

// ---- the tick ----

void Daemon::poll_tick() {
  policy_.start_afresh();
  loop_.set_enabled(poll_timer_, false);
  if (loop_.interval(poll_timer_) != milliseconds{1000}) loop_.set_interval(poll_timer_, milliseconds{1000});
  if (!db_) {
    db_ = std::make_unique<DBObject>(database_settings(registry_));
    db_->SetErrorPolicy(&policy_);
    db_->Counter().record_id = rows_.counters_record_id();
  }
  bool at_first_tick = schedule_.first_tick();
  if (at_first_tick) open_at_first_tick();
  if (!rows_.record_ids_known()) retried([&] { rows_.read_record_ids(*db_); });

  bool refresh_due = schedule_.refresh_due();
  bool poll_due = schedule_.poll_due(rows_.settings().dexweb_poll);
  if (refresh_due) refresh(at_first_tick);
  if (stop_requested_) return;
  if (instant_pickup()) {
    watch_folder();
    poll_due = poll_due || schedule_.take_landing();
  }
  const bool poll_again = poll_due && poll_folder();
  hourly_ping();
  loop_.set_enabled(poll_timer_, true);
  // The next poll comes as soon as the loop has served what is due (signals, the log
  // flush); every tick still refreshes on its own cadence.
  if (instant_pickup() && (poll_again || schedule_.landing_pending())) loop_.fire_soon(poll_timer_);
}

bool Daemon::poll_intake() {
  IntakeContext ctx{*db_,         policy_,           registry_,      rows_.settings(), recipients_,
                    blacklist_,   schedule_.first_poll(), interface_name_, machine_name_, temp_folder_,
                    leftovers_,   writers_,          message_counts_, watched_folder_, claims_};
  ctx.folder_index = current_folder_index();
  ctx.stop_requested = [this] { return stop_requested(); };
  const bool found = check_for_messages(ctx);
  schedule_.note_held_only(ctx.held_only);
  return found;
}

// Looked at every tick: a folder renamed away and made anew is the one watched from then on.
void Daemon::watch_folder() {
  std::string folder = rows_.settings().dexwebcgi_path;
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
  if (folder_watch_) schedule_.landed();
}

FolderIndex* Daemon::current_folder_index() {
  if (!instant_pickup() || !folder_watch_ || !folder_watch_->watching()) return nullptr;
  platform::FolderWatch::Landed landed = folder_watch_->take_landed();
  if (landed.lost) folder_index_.invalidate();
  else folder_index_.landed(std::move(landed.names));
  return &folder_index_;
}

// Only a flag while a tick runs (its timer is disabled then): the tick's end looks at it.
void Daemon::files_landed() {
  schedule_.landed();
  loop_.fire_soon(poll_timer_);
}

// Why the database could not be opened, with what in the registry explains it.
std::string Daemon::open_failure(const std::string& reason) const {
  if (registry_.DB_Dir.empty())
    return "No DB_Dir in the registry file " + registry_.file + ": no database to open";
  // The engine's own line, the last of the reason, names the file and the system's cause.
  std::string text = "Cannot open the database: " + reason.substr(reason.find_last_of("\r\n") + 1);
  if (const auto problem = find_registry_value(kVelotraxKey, "DB_Dir")->problem(registry_.DB_Dir))
    text += " (DB_Dir " + *problem + ")";
  return text;
}

void Daemon::open_at_first_tick() {
  try {
    db_->OpenDb();
  } catch (const RuntimeError& e) {
    refuse_database("Failed to open database", open_failure(e.description()));
  }
  // A damaged file halts the module before anything is read from it or written into it.
  retried([&] { db_->CheckIntegrity(); });
  auto rs = retried([&] { return db_->OpenRecordset("SELECT [dbversion], [log_to_disk], [log_level]" + from(db_->SqlDialect(), "settings")); });
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
  if (db_->UsesServer()) {
    auto server = retried([&] { return db_->OpenRecordset("SELECT" + db_->SqlDialect().now_expression() + "AS server_time"); });
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
  policy_.note_halt();
  // Under the service manager the module stops as it does for a halt; a program just ends.
  if (service_mode()) throw ModuleHalted{};
  try {
    free_database(db_);
  } catch (const RuntimeError&) {
    // The refusal is already logged and the program ends: a failing close has nothing to add.
  }
  throw ModuleHalted{false};
}

void Daemon::refresh(bool at_first_tick) {
  schedule_.refreshed();
  read_monitor_settings(registry_);
  rows_.set_mail_out_dir(mail_out_folder());
  monitor_status(LogCategory::Running);
  retried([&] { rows_.read_settings_row(*db_); });
  retried([&] { rows_.read_control_row(*db_); });
  if (at_first_tick) retried([&] { blacklist_.load(registry_.DB_Dir); });
  if (rows_.settings().dexweb_pause) {
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
  if (!rows_.settings().dexweb_run) {
    // The copy of the control row starts empty: without a row, the module does not run.
    tell_operator(rows_.control_row_seen() ? "dexweb_run is false in the control row: stopping; run `dexwebctl start`"
                                           : "The control table has no row, so dexweb_run reads false: stopping; "
                                             "add the gateway's control row");
    return request_stop(true);
  }
  schedule_.refreshed();
}

void Daemon::pause_at_start() {
  retried([&] { rows_.write_control_flag(*db_, "dexweb_state", false, false); });
  for (int i = 0; i < kPauseAtStartSeconds && rows_.settings().dexweb_pause && !stop_requested_; ++i) {
    wait_or_stop(1);
    retried([&] { rows_.read_control_row(*db_); });
  }
  if (stop_requested_) return;
  retried([&] { rows_.write_control_flag(*db_, "dexweb_run", true, false); });
  rows_.note_run_written();
  clock_sync_.wanted();
  log_general("Module resumed");
}

void Daemon::align_clock(bool at_first_tick) {
  schedule_.first_tick_done();
  clock_sync_.align({rows_.settings(), registry_, db_ && db_->UsesServer(), at_first_tick,
                     [this] { retried([&] { rows_.read_control_row(*db_); }); }});
}

bool Daemon::poll_folder() {
  schedule_.poll_started();
  bool found = false;
  if (rows_.settings().dexweb_run) {
    recipients_.clear();
    found = poll_(*this);
    report_.after_poll({rows_.settings(), message_counts_, leftovers_.unreadable_count(), registry_.DB_Dir,
                        schedule_.first_poll()});
  }
  const bool again = schedule_.poll_ended(found, instant_pickup());
  if (!again && loop_.interval(poll_timer_) < milliseconds{1000}) loop_.set_interval(poll_timer_, milliseconds{1000});
  return again;
}

void Daemon::hourly_ping() {
  if (!schedule_.ping_due(civil(platform::server_now()).hour)) return;
  if (!db_ || !db_->UsesServer()) {
    // The embedded database is closed once an hour so that its file can be backed up or
    // compacted by other tools; the next operation opens it again. The object stays, so
    // that the open knows whether the file is still the one it had.
    if (db_) db_->CloseDb();
    wait_or_stop(3);
  }
  log_detail("Log ping...");
}

}  // namespace dexweb
