#include "shell/main_form.h"

#include "config/globals.h"
#include "intake/check_for_messages.h"
#include "logging/log_event.h"
#include "logging/log_files.h"
#include "logging/monitor_link.h"
#include "platform/files.h"
#include "platform/private_files.h"
#include "platform/service_manager.h"
#include "shell/startup.h"
#include "util/runtime_error.h"
#include "util/text.h"

#include <utility>

namespace dexweb {

using std::chrono::milliseconds;

namespace {

bool poll_watched_folder(MainForm& f) {
  IntakeContext ctx{*f.db,          f.Settings,    f.Recipients, f.Blacklist, f.FirstPoll,
                    f.InterfaceName, f.MachineName, f.TempFolder, f.Leftovers, f.Writers};
  ctx.StopRequested = [&f] { return f.StopRequested(); };
  return dexweb::check_for_messages(ctx);
}

}  // namespace

MainForm::MainForm(platform::EventLoop& loop)
    : check_for_messages(poll_watched_folder),
      load_blacklist([](MainForm& f) { f.Blacklist.GetBlackList(); }),
      loop_(loop) {}

MainForm::~MainForm() {
  loop_.remove_timer(repeat_timer);
  loop_.remove_timer(tmrLog);
  if (globals().Form == this) globals().Form = nullptr;
}

void MainForm::Load() {
  globals().RetryCount = 0;
  globals().RetryRound = 0;
  SyncPending = true;
  FirstTick = true;
  LogPingHour = civil(ServerNow()).hour;
  InterfaceName = "DexWeb";
  std::string host = text::left(platform::host_name(), 40);
  MachineName = host.empty() ? " " : host;
  TempFolder = make_private_temp_folder();
  FirstPoll = true;
  repeat_timer = loop_.add_timer(milliseconds{100}, [this] { PollTick(); }, false);
  tmrLog = loop_.add_timer(milliseconds{1000}, [this] { LogTick(); }, true);
}

// The filters' temporary files live where no other account can create or replace them.
std::string MainForm::make_private_temp_folder() {
  try {
    PrivateTemp = std::make_unique<platform::PrivateFolder>();
    return PrivateTemp->path();
  } catch (const RuntimeError& e) {
    log_event("general", "monitor/disk", "general", "Unable to create a private temporary folder: " + e.description());
    return {};
  }
}

void MainForm::EnablePollTimer() { loop_.set_enabled(repeat_timer, true); }

void MainForm::LogTick() {
  loop_.set_enabled(tmrLog, false);
  flush_log_queues();
  loop_.set_enabled(tmrLog, true);
}

bool MainForm::ServiceStart() {
  globals().ServiceStarted = true;
  return main2(*this);
}

void MainForm::StopSequence(bool unloading) {
  // Every step is attempted: an error in one never keeps the process from ending.
  auto step = [](auto&& action) {
    try {
      action();
    } catch (const RuntimeError&) {
    }
  };
  auto pause = [&] {
    if (unloading) step([] { platform::wait_seconds(0.1); });
  };
  loop_.set_enabled(tmrLog, false);
  loop_.set_enabled(repeat_timer, false);
  if (!globals().ProgramHalted && db) step([&] { WriteControlFlag("dexweb_state", false, true); });
  pause();
  log_event("general", "monitor/disk", "general", "Module Stopped");
  pause();
  log_event("general", "monitor", "stopped", "");
  pause();
  if (!globals().DbErrorHalted) step([&] { FreeDb(db); });
  PrivateTemp.reset();
  begin_direct_write();
}

bool MainForm::ServiceMode() const { return globals().Registry.Run_Type == "NTService"; }

void MainForm::RequestStop(bool by_module) {
  if (!stop_requested_) stop_by_module_ = by_module;
  stop_requested_ = true;
}

void MainForm::ReloadOnRequest() { reload_requested_ = true; }

// An operator's SIGHUP, acted on between rounds of events so that no file's work sees the
// blacklist change under it.
void MainForm::ReloadIfRequested() {
  if (!std::exchange(reload_requested_, false)) return;
  read_monitor_settings();
  try {
    Blacklist.GetBlackList();
  } catch (const RuntimeError& e) {
    log_event("general", "monitor/disk", "general", "Unable to read the blacklist: " + e.description());
  }
  log_event("general", "monitor/disk", "general", "Blacklist and monitor settings read again");
}

int MainForm::Run() {
  try {
    loop_.run_until([this] {
      ReloadIfRequested();
      return stop_requested_;
    });
  } catch (const ModuleHalted& halt) {
    return Finish(halt);
  }
  return Finish();
}

int MainForm::Finish() {
  const bool service = ServiceMode();
  // Whoever asked for the stop, a service manager that started the process hears of it.
  platform::notify_service_manager("STOPPING=1");
  StopSequence(!service);
  return globals().ProgramHalted ? 1 : 0;
}

int MainForm::Finish(const ModuleHalted& halt) {
  if (!halt.stop_sequence) return 1;
  stop_by_module_ = true;
  Finish();
  return 1;
}

}  // namespace dexweb
