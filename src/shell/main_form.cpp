#include "shell/main_form.h"

#include "config/globals.h"
#include "intake/check_for_messages.h"
#include "logging/log_event.h"
#include "logging/log_files.h"
#include "platform/files.h"
#include "platform/private_files.h"
#include "platform/service_manager.h"
#include "shell/process_exit.h"
#include "shell/startup.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {

using std::chrono::milliseconds;

namespace {

bool poll_watched_folder(MainForm& f) {
  IntakeContext ctx{*f.db,          f.Settings,    f.Recipients, f.Blacklist, f.FirstPoll,
                    f.InterfaceName, f.MachineName, f.TempFolder, f.Leftovers, f.Writers};
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
  main2(*this);
  return true;
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

void MainForm::Unload() {
  StopSequence(true);
  end_process(globals().ProgramHalted ? 1 : 0);
}

void MainForm::ServiceStop() {
  StopSequence(false);
  end_process(globals().ProgramHalted ? 1 : 0);
}

void MainForm::StopModule() {
  if (globals().Registry.Run_Type != "NTService") Unload();
  platform::notify_service_manager("STOPPING=1");
  ServiceStop();
}

}  // namespace dexweb
