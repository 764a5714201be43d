#include "shell/main_form.h"

#include "config/globals.h"
#include "logging/log_event.h"
#include "logging/log_files.h"
#include "platform/files.h"
#include "shell/process_exit.h"
#include "shell/startup.h"
#include "util/text.h"

namespace dexweb {

using std::chrono::milliseconds;

MainForm::MainForm(platform::EventLoop& loop) : loop_(loop) {}

MainForm::~MainForm() {
  loop_.remove_timer(repeat_timer);
  loop_.remove_timer(tmrLog);
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
  TempFolder = platform::temp_folder();
  FirstPoll = true;
  repeat_timer = loop_.add_timer(milliseconds{100}, [this] { PollTick(); }, false);
  tmrLog = loop_.add_timer(milliseconds{1000}, [this] { LogTick(); }, true);
}

void MainForm::EnablePollTimer() { loop_.set_enabled(repeat_timer, true); }

void MainForm::PollTick() {
  loop_.set_enabled(repeat_timer, false);
  if (loop_.interval(repeat_timer) != milliseconds{1000}) loop_.set_interval(repeat_timer, milliseconds{1000});
  loop_.set_enabled(repeat_timer, true);
}

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
  auto pause = [&] {
    if (unloading) platform::wait_seconds(0.1);
  };
  loop_.set_enabled(tmrLog, false);
  loop_.set_enabled(repeat_timer, false);
  pause();
  log_event("general", "monitor/disk", "general", "Module Stopped");
  pause();
  log_event("general", "monitor", "stopped", "");
  pause();
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

}  // namespace dexweb
