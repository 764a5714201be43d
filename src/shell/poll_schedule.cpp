#include "shell/internal/poll_schedule.h"

#include <algorithm>
#include <limits>

#include "platform/files.h"
#include "platform/folder.h"
#include "platform/private_files.h"
#include "platform/process.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

using std::chrono::microseconds;
using std::chrono::seconds;

// Whole seconds since `since` on the steady time; never is long ago.
long long whole_seconds_since(const std::optional<platform::SteadyPoint>& since) {
  if (!since) return std::numeric_limits<long long>::max();
  return std::chrono::duration_cast<seconds>(platform::clock().steady_now() - *since).count();
}

std::size_t files_waiting(const std::string& folder) {
  if (folder.empty()) return 0;
  try {
    return platform::count_names(folder, ".msg");
  } catch (const RuntimeError&) {
    // An unreadable folder has no count; the poll itself says why it cannot be read.
    return 0;
  }
}

// After the first poll the watchdog's time is what the unit set, but never shorter than
// two poll intervals and a margin, so that a slow poll setting is no reason for a restart.
void tell_watchdog(bool first_poll, int poll_seconds) {
  const auto configured = platform::watchdog_interval();
  if (!configured) return;
  if (first_poll) {
    const microseconds wanted = std::max<microseconds>(*configured, seconds(2L * poll_seconds + 10));
    platform::notify_service_manager("WATCHDOG_USEC=" + std::to_string(wanted.count()));
  }
  platform::notify_service_manager("WATCHDOG=1");
}

// The state file's text.
struct PollFacts {
  long long last_poll_epoch = 0;
  long poll_interval = 0;
  long long accepted = 0, refused = 0;  // recipients
  MessageCounts messages;
  std::size_t waiting = 0;
  int unreadable = 0;
};

std::string poll_state_text(const PollFacts& f) {
  return "last_poll=" + std::to_string(f.last_poll_epoch) + "\npoll_interval=" + std::to_string(f.poll_interval) +
         "\naccepted=" + std::to_string(f.accepted) + "\nrefused=" + std::to_string(f.refused) +
         "\nmessages_accepted=" + std::to_string(f.messages.accepted) +
         "\nmessages_refused=" + std::to_string(f.messages.refused) + "\nwaiting=" + std::to_string(f.waiting) +
         "\nunreadable=" + std::to_string(f.unreadable) + "\n";
}

}  // namespace

void PollSchedule::start(int hour_now) {
  first_tick_ = true;
  first_poll_ = true;
  log_ping_hour_ = hour_now;
}

bool PollSchedule::refresh_due() const { return whole_seconds_since(last_refresh_) >= 3; }

void PollSchedule::refreshed() { last_refresh_ = platform::clock().steady_now(); }

bool PollSchedule::poll_due(int poll_seconds) const { return whole_seconds_since(last_poll_) >= poll_seconds; }

void PollSchedule::poll_started() { last_poll_ = platform::clock().steady_now(); }

bool PollSchedule::poll_ended(bool found, bool instant_pickup) {
  first_poll_ = false;
  last_poll_ = platform::clock().steady_now();
  // Files their writers hold open: the watch tells when they are closed.
  if (found && held_only_ && instant_pickup) found = false;
  if (found) last_poll_.reset();
  return found;
}

bool PollSchedule::take_landing() { return std::exchange(landed_, false); }

bool PollSchedule::ping_due(int hour) {
  if (hour == log_ping_hour_) return false;
  log_ping_hour_ = hour;
  return true;
}

std::size_t PollReport::waiting_files(const std::string& folder, platform::SteadyPoint now) {
  const auto age = last_waiting_count_ ? now - *last_waiting_count_ : platform::SteadyPoint::duration::max();
  const auto wanted = kReportInterval * static_cast<long>(1 + waiting_files_ / kFilesPerCountSecond);
  if (age >= wanted) {
    waiting_files_ = files_waiting(folder);
    last_waiting_count_ = now;
  }
  return waiting_files_;
}

void PollReport::after_poll(const Facts& facts) {
  // Polls follow each other at once while files keep landing: the report, which counts the
  // waiting files and writes the state file durably, goes out at most once a second.
  const platform::SteadyPoint now = platform::clock().steady_now();
  if (last_report_ && now - *last_report_ < kReportInterval) return;
  last_report_ = now;
  const MessageCounts& counts = facts.counts;
  const std::size_t waiting = waiting_files(facts.settings.dexwebcgi_path, now);
  if (platform::notify_socket_present()) {
    tell_watchdog(facts.first_poll, facts.settings.dexweb_poll);
    platform::notify_service_manager("STATUS=Last poll " + format_datetime(platform::server_now()) + ": accepted " +
                                     std::to_string(counts.recipients_accepted) + ", refused " +
                                     std::to_string(counts.recipients_refused) + ", waiting " + std::to_string(waiting));
  }
  const std::string folder = platform::home_private_folder(facts.db_dir);
  const long long epoch = std::chrono::duration_cast<seconds>(platform::clock().now().time_since_epoch()).count();
  try {
    platform::write_file_atomic(platform::InstanceLock::state_path(folder),
                                poll_state_text({epoch, facts.settings.dexweb_poll, counts.recipients_accepted,
                                                 counts.recipients_refused, counts, waiting, facts.unreadable}));
  } catch (const RuntimeError&) {
    // The state file is a courtesy to `dexwebctl status`, which says "unknown" without it;
    // polling goes on.
  }
}

}  // namespace dexweb
