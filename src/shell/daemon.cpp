#include "shell/internal/daemon.h"

#include "data/unique_ids.h"
#include "intake/refusals.h"
#include "intake/check_for_messages.h"
#include "logging/log_event.h"
#include "logging/log_files.h"
#include "logging/monitor_link.h"
#include "logging/stderr_echo.h"
#include "notify/notifications.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/private_files.h"
#include "platform/registry_file.h"
#include "platform/service_manager.h"
#include "shell/startup.h"
#include "util/module_name.h"
#include "util/runtime_error.h"
#include "util/text.h"

#include <utility>

namespace dexweb {

using std::chrono::milliseconds;

namespace {

bool poll_watched_folder(Daemon& f) {
  IntakeContext ctx{*f.db,        f.policy,         f.registry,     f.settings,    f.recipients,
                    f.blacklist,  f.first_poll,     f.interface_name, f.machine_name, f.temp_folder,
                    f.leftovers,  f.writers,        f.message_counts, f.watched_folder, f.claims};
  ctx.folder_index = f.current_folder_index();
  ctx.stop_requested = [&f] { return f.stop_requested(); };
  const bool found = dexweb::check_for_messages(ctx);
  f.files_held_only = ctx.held_only;
  return found;
}

}  // namespace

Daemon::Daemon(platform::EventLoop& loop, RegistrySettings settings_read_at_start)
    : registry(std::move(settings_read_at_start)),
      policy(registry.Run_Type == "Application"),
      check_for_messages(poll_watched_folder),
      load_blacklist([](Daemon& f) { f.blacklist.load(f.registry.DB_Dir); }),
      reporter_(registry, &policy),
      reporter_install_(reporter_),
      loop_(loop) {}

Daemon::~Daemon() {
  loop_.remove_timer(poll_timer);
  loop_.remove_timer(log_timer);
}

void Daemon::load() {
  policy.start_afresh();
  sync_pending = true;
  first_tick = true;
  log_ping_hour = civil(platform::server_now()).hour;
  interface_name = "DexWeb";
  std::string host = text::left(platform::host_name(), 40);
  machine_name = host.empty() ? " " : host;
  first_poll = true;
  poll_timer = loop_.add_timer(milliseconds{100}, [this] { poll_tick(); }, false);
  log_timer = loop_.add_timer(milliseconds{1000}, [] { flush_log_queues(); }, true);
}

void Daemon::settle_in_home() {
  const std::string home = platform::home_private_folder(registry.DB_Dir);
  keep_name_sequence(home + "VTXWeb.names");
  try {
    private_temp = std::make_unique<platform::PrivateFolder>(home + "tmp/");
    temp_folder = private_temp->path();
  } catch (const RuntimeError& e) {
    const std::string text = "Unable to create a private temporary folder: " + e.description();
    log_general(text);
    tell_operator(text);
    temp_folder.clear();
  }
}

// Standard error is the journal of a service: what stops or holds the module, and why.
void Daemon::tell_operator(const std::string& text) { echo_line(std::string(kModuleName) + ": " + text); }

void Daemon::enable_poll_timer() { loop_.set_enabled(poll_timer, true); }

std::string Daemon::mail_out_folder() const { return registry.DB_Dir + "MailOut/"; }

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
  if (!registry.DB_Dir.empty()) remove(mail_out_folder(), is_mail_file_temporary);
  remove(bad_folder(registry), is_bad_copy_temporary);
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
    } catch (const platform::StopRequested&) {
    }
  };
  // Not cut short by a stop: these pauses are part of the stop itself.
  auto pause = [&] {
    if (unloading) platform::clock().wait({}, platform::steady_after(0.1));
  };
  loop_.set_enabled(log_timer, false);
  loop_.set_enabled(poll_timer, false);
  if (!policy.program_halted() && db) step([&] { write_control_flag("dexweb_state", false, true); });
  pause();
  log_general("Module Stopped");
  pause();
  monitor_status(LogCategory::Stopped);
  pause();
  if (!policy.db_error_halted()) step([&] { free_database(db); });
  private_temp.reset();
  flush_log_queues();
}

bool Daemon::service_mode() const { return registry.Run_Type == "NTService"; }

void Daemon::request_stop(bool by_module) {
  if (!stop_requested_) stop_by_module_ = by_module;
  stop_requested_ = true;
}

void Daemon::reload_on_request() { reload_requested_ = true; }

// An operator's SIGHUP, acted on between rounds of events so that no file's work sees the
// registry settings or the blacklist change under it.
void Daemon::reload_if_requested() {
  if (!std::exchange(reload_requested_, false)) return;
  RegistrySettings fresh = read_registry_settings(platform::RegistryFile(registry.file));
  const std::string kept = fresh.keep_run_bound(registry);
  if (!kept.empty()) tell_operator("Changed in the registry, used from the next start: " + kept);
  registry = std::move(fresh);
  read_monitor_settings(registry);
  try {
    blacklist.load(registry.DB_Dir);
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
  return policy.program_halted() ? 1 : 0;
}

int Daemon::finish(const ModuleHalted& halt) {
  if (!halt.stop_sequence) return 1;
  stop_by_module_ = true;
  finish();
  return 1;
}

}  // namespace dexweb
