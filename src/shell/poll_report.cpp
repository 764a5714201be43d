#include "shell/internal/poll_report.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/folder.h"
#include "platform/private_files.h"
#include "platform/process.h"
#include "shell/internal/daemon.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

using std::chrono::microseconds;
using std::chrono::seconds;

std::size_t files_waiting(const std::string& folder) {
  if (folder.empty()) return 0;
  try {
    return platform::count_names(folder, ".msg");
  } catch (const RuntimeError&) {
    return 0;
  }
}

// After the first poll the watchdog's time is what the unit set, but never shorter than
// two poll intervals and a margin, so that a slow poll setting is no reason for a restart.
void tell_watchdog(const Daemon& daemon) {
  const auto configured = platform::watchdog_interval();
  if (!configured) return;
  if (daemon.first_poll) {
    const microseconds wanted = std::max<microseconds>(*configured, seconds(2L * daemon.settings.dexweb_poll + 10));
    platform::notify_service_manager("WATCHDOG_USEC=" + std::to_string(wanted.count()));
  }
  platform::notify_service_manager("WATCHDOG=1");
}

// The waiting files, counted again when the last count is old enough for its size.
std::size_t waiting_files(Daemon& daemon, platform::SteadyPoint now) {
  const auto age = daemon.last_waiting_count ? now - *daemon.last_waiting_count : platform::SteadyPoint::duration::max();
  const auto wanted = kReportInterval * static_cast<long>(1 + daemon.waiting_files / kFilesPerCountSecond);
  if (age >= wanted) {
    daemon.waiting_files = files_waiting(daemon.settings.dexwebcgi_path);
    daemon.last_waiting_count = now;
  }
  return daemon.waiting_files;
}

}  // namespace

std::string poll_state_text(const PollFacts& f) {
  return "last_poll=" + std::to_string(f.last_poll_epoch) + "\npoll_interval=" + std::to_string(f.poll_interval) +
         "\naccepted=" + std::to_string(f.accepted) + "\nrefused=" + std::to_string(f.refused) +
         "\nmessages_accepted=" + std::to_string(f.messages.accepted) +
         "\nmessages_refused=" + std::to_string(f.messages.refused) + "\nwaiting=" + std::to_string(f.waiting) +
         "\nunreadable=" + std::to_string(f.unreadable) + "\n";
}

void report_poll(Daemon& daemon) {
  // Polls follow each other at once while files keep landing: the report, which counts the
  // waiting files and writes the state file durably, goes out at most once a second.
  const platform::SteadyPoint now = platform::clock().steady_now();
  if (daemon.last_poll_report && now - *daemon.last_poll_report < kReportInterval) return;
  daemon.last_poll_report = now;
  const MessageCounts& counts = daemon.message_counts;
  const std::size_t waiting = waiting_files(daemon, now);
  if (platform::notify_socket_present()) {
    tell_watchdog(daemon);
    platform::notify_service_manager("STATUS=Last poll " + format_datetime(platform::server_now()) + ": accepted " +
                                     std::to_string(counts.recipients_accepted) + ", refused " +
                                     std::to_string(counts.recipients_refused) + ", waiting " + std::to_string(waiting));
  }
  const std::string folder = platform::home_private_folder(daemon.registry.DB_Dir);
  const long long epoch = std::chrono::duration_cast<seconds>(platform::clock().now().time_since_epoch()).count();
  try {
    platform::write_file_atomic(platform::InstanceLock::state_path(folder),
                                poll_state_text({epoch, daemon.settings.dexweb_poll, counts.recipients_accepted,
                                                 counts.recipients_refused, counts, waiting,
                                                 daemon.leftovers.unreadable_count()}));
  } catch (const RuntimeError&) {
    // The state file is a courtesy to `dexwebctl status`, which says "unknown" without it;
    // polling goes on.
  }
}

}  // namespace dexweb
