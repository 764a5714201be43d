#pragma once
// What the module tells after each poll that really ran: the service manager's watchdog
// ("WATCHDOG=1" when $WATCHDOG_USEC is set) and its one status line (last poll, recipients
// accepted and refused in this run, files waiting), and the state file beside the instance
// lock that `dexwebctl serve` reads for /healthz and /metrics:
//   last_poll=EPOCH SECONDS
//   poll_interval=SECONDS
//   accepted=N            recipients accepted in this run
//   refused=N             recipients refused in this run
//   messages_accepted=N   message files of this run (intake/intake_context.h)
//   messages_refused=N
//   waiting=N
//   unreadable=N   (files left in the watched folder because the module cannot read them)
// A module stuck in a wait polls no more, so the watchdog is not fed and systemd restarts it.

#include <chrono>
#include <string>

#include "intake/check_for_messages.h"

namespace dexweb {

class Daemon;

// The watchdog allowance up to the first poll, which a pause at start (up to 300 s) may delay.
inline constexpr std::chrono::seconds kFirstPollAllowance{330};

// At most once a report interval: sends the notifications and writes the state file;
// failures are ignored (the poll cycle goes on whatever the service manager or the lock
// folder say).
inline constexpr std::chrono::seconds kReportInterval{1};
// Counting the waiting files reads the whole folder: with a large backlog the count is
// taken again only after a second per this many files it found last time, so that draining
// a backlog costs the same per file however large it is.
inline constexpr std::size_t kFilesPerCountSecond = 10000;
void report_poll(Daemon& daemon);

// The state file's text.
struct PollFacts {
  long long last_poll_epoch = 0;
  long poll_interval = 0;
  long long accepted = 0, refused = 0;  // recipients
  MessageCounts messages;
  std::size_t waiting = 0;
  int unreadable = 0;
};
std::string poll_state_text(const PollFacts& facts);

}  // namespace dexweb
