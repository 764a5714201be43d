// Keeping server_now on the gateway's clock: the server's own clock on a server database,
// otherwise the scheduler's velotrax_time, caught on the edge of its next step.
#include "logging/error_policy.h"
#include "logging/log_event.h"
#include "logging/monitor_link.h"
#include "platform/clock.h"
#include "shell/internal/daemon.h"

namespace dexweb {
namespace {

constexpr int kSchedulerTickWaits = 10;
constexpr const char* kSynchronized = "Time synchronized with database";
constexpr const char* kUnsynchronized = "Unable to synchronize time with database. Using local time.";

bool scheduler_shares_this_clock(const RegistrySettings& registry) {
  auto flag = get_named_setting(registry, "sched_reg_run");
  return flag && std::holds_alternative<bool>(*flag) && std::get<bool>(*flag);
}

}  // namespace

void Daemon::align_clock(bool at_first_tick) {
  if (!settings.sched_state && !at_first_tick && !sync_pending) {
    sync_pending = true;
    log_detail(kUnsynchronized);
  }
  first_tick = false;
  if (!sync_pending || !settings.sched_state || settings.velotrax_time == last_velotrax_time) return;
  if (!registry.SyncTimeWithServer) {
    sync_pending = false;
  } else if (db && db->UsesServer()) {
    sync_pending = false;  // the offset was taken from the server at the first tick
    log_detail(kSynchronized);
  } else if (scheduler_shares_this_clock(registry)) {
    platform::set_server_time_offset(std::chrono::milliseconds{0});
    sync_pending = false;
    log_detail(kSynchronized);
  } else {
    wait_for_scheduler_tick();
  }
}

void Daemon::wait_for_scheduler_tick() {
  last_velotrax_time = settings.velotrax_time;
  for (int i = 0; i < kSchedulerTickWaits && settings.velotrax_time == last_velotrax_time; ++i) {
    wait_or_stop(0.5);
    retried([&] { read_control_row(); });
  }
  if (settings.velotrax_time == last_velotrax_time) {
    platform::set_server_time_offset(std::chrono::milliseconds{0});
    sync_pending = true;
    log_detail(kUnsynchronized);
  } else {
    platform::set_server_time_offset(
        std::chrono::duration_cast<std::chrono::milliseconds>(settings.velotrax_time - platform::local_now()));
    sync_pending = false;
    log_detail(kSynchronized);
  }
}

}  // namespace dexweb
