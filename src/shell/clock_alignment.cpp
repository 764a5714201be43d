// Keeping ServerNow on the gateway's clock: the server's own clock on a server database,
// otherwise the scheduler's velotrax_time, caught on the edge of its next step.
#include "config/globals.h"
#include "logging/error_policy.h"
#include "logging/log_event.h"
#include "logging/named_settings.h"
#include "platform/clock.h"
#include "shell/main_form.h"

namespace dexweb {
namespace {

constexpr int kSchedulerTickWaits = 10;
constexpr const char* kSynchronized = "Time synchronized with database";
constexpr const char* kUnsynchronized = "Unable to synchronize time with database. Using local time.";

void log_detail(const char* text) { log_event("detail", "monitor/disk", "general", text); }

bool scheduler_shares_this_clock() {
  auto flag = get_named_setting("sched_reg_run");
  return flag && std::holds_alternative<bool>(*flag) && std::get<bool>(*flag);
}

}  // namespace

void MainForm::AlignClock(bool first_tick) {
  if (!Settings.sched_state && !first_tick && !SyncPending) {
    SyncPending = true;
    log_detail(kUnsynchronized);
  }
  FirstTick = false;
  if (!SyncPending || !Settings.sched_state || Settings.velotrax_time == LastVelotraxTime) return;
  if (!globals().Registry.SyncTimeWithServer) {
    SyncPending = false;
  } else if (globals().UseSqlServer) {
    SyncPending = false;  // the offset was taken from the server at the first tick
    log_detail(kSynchronized);
  } else if (scheduler_shares_this_clock()) {
    globals().TimeOffset = std::chrono::milliseconds{0};
    SyncPending = false;
    log_detail(kSynchronized);
  } else {
    WaitForSchedulerTick();
  }
}

void MainForm::WaitForSchedulerTick() {
  LastVelotraxTime = Settings.velotrax_time;
  for (int i = 0; i < kSchedulerTickWaits && Settings.velotrax_time == LastVelotraxTime; ++i) {
    platform::wait_seconds(0.5);
    with_retry("Procedure: repeat_timer", [&] { ReadControlRow(); });
  }
  if (Settings.velotrax_time == LastVelotraxTime) {
    globals().TimeOffset = std::chrono::milliseconds{0};
    SyncPending = true;
    log_detail(kUnsynchronized);
  } else {
    globals().TimeOffset =
        std::chrono::duration_cast<std::chrono::milliseconds>(Settings.velotrax_time - platform::local_now());
    SyncPending = false;
    log_detail(kSynchronized);
  }
}

}  // namespace dexweb
