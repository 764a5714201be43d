#pragma once
// When the poll cycle refreshes and polls, and what it tells after each poll that ran.
//
// PollSchedule: the settings and control rows are read again every 3 s; the watched folder
// is polled every dexweb_poll seconds, at once again after a poll that found files, and (with
// instant pickup) as soon as the folder watch saw a file land; the log is pinged when the
// hour changes. All on the steady time of platform/clock.h.
//
// PollReport: the service manager's watchdog ("WATCHDOG=1" when $WATCHDOG_USEC is set) and
// its one status line (last poll, recipients accepted and refused in this run, files
// waiting), and the state file beside the instance lock that `dexwebctl serve` reads for
// /healthz and /metrics:
//   last_poll=EPOCH SECONDS
//   poll_interval=SECONDS
//   accepted=N            recipients accepted in this run
//   refused=N             recipients refused in this run
//   messages_accepted=N   message files of this run (intake/check_for_messages.h)
//   messages_refused=N
//   waiting=N
//   unreadable=N   (files left in the watched folder because the module cannot read them)
// A module stuck in a wait polls no more, so the watchdog is not fed and systemd restarts it.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "config/gateway_settings.h"
#include "intake/check_for_messages.h"
#include "platform/clock.h"

namespace dexweb {

class PollSchedule {
 public:
  // A run's start (the load handler): the first tick and the first poll to come; the log
  // ping waits for the next hour after hour_now.
  void start(int hour_now);

  // True until the clock alignment of the first refresh has run.
  bool first_tick() const { return first_tick_; }
  void first_tick_done() { first_tick_ = false; }
  // True until the first poll has run.
  bool first_poll() const { return first_poll_; }

  // The refresh is due 3 whole seconds after the last one (at once before the first).
  bool refresh_due() const;
  void refreshed();
  // The poll is due poll_seconds whole seconds after the last one (at once before the first,
  // and after a poll that found files).
  bool poll_due(int poll_seconds) const;
  void poll_started();
  // The end of a poll: whether it found files to work (files held open by their writers
  // alone count only without the folder watch, which tells when they are closed). True when
  // the next poll should follow at once.
  bool poll_ended(bool found, bool instant_pickup);
  // The last poll found only files that their writers hold open.
  void note_held_only(bool held_only) { held_only_ = held_only; }

  // The folder watch saw a message file land; no poll has seen it yet.
  void landed() { landed_ = true; }
  bool landing_pending() const { return landed_; }
  // Whether a landing was pending, which is then taken.
  bool take_landing();

  // True once per change of the hour (hour: the server time's).
  bool ping_due(int hour);

 private:
  bool first_tick_ = true;
  bool first_poll_ = true;
  int log_ping_hour_ = 0;
  std::optional<platform::SteadyPoint> last_refresh_;
  // Empty until the first poll, and after a poll that found files.
  std::optional<platform::SteadyPoint> last_poll_;
  bool held_only_ = false;
  bool landed_ = false;
};

// The watchdog allowance up to the first poll, which a pause at start (up to 300 s) may delay.
inline constexpr std::chrono::seconds kFirstPollAllowance{330};
// At most once a report interval the report sends the notifications and writes the state
// file.
inline constexpr std::chrono::seconds kReportInterval{1};
// Counting the waiting files reads the whole folder: with a large backlog the count is
// taken again only after a second per this many files it found last time, so that draining
// a backlog costs the same per file however large it is.
inline constexpr std::size_t kFilesPerCountSecond = 10000;

class PollReport {
 public:
  // What the run knows after a poll.
  struct Facts {
    const GatewaySettings& settings;
    const MessageCounts& counts;
    int unreadable = 0;
    std::string db_dir;
    bool first_poll = false;
  };
  // After a poll that ran; failures are ignored (the poll cycle goes on whatever the service
  // manager or the lock folder say).
  void after_poll(const Facts& facts);

 private:
  // The waiting files, counted again when the last count is old enough for its size.
  std::size_t waiting_files(const std::string& folder, platform::SteadyPoint now);

  std::optional<platform::SteadyPoint> last_report_;
  std::size_t waiting_files_ = 0;
  std::optional<platform::SteadyPoint> last_waiting_count_;
};

}  // namespace dexweb
