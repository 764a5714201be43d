#pragma once
// Whether this home's module runs, asked of the home's instance lock (never by process
// name, so another home's module on the same computer does not count), and what it wrote
// into its state file after its last poll (shell/internal/poll_schedule.h).

#include <cstddef>
#include <optional>
#include <string>

namespace dexweb::ctl {

struct PollState {
  long long last_poll = 0;  // seconds since the epoch
  long poll_interval = 0;   // seconds
  long long accepted = 0, refused = 0;  // recipients accepted and refused in the module's current run
  long long messages_accepted = 0, messages_refused = 0;  // message files of that run
  std::size_t waiting = 0;
  long long unreadable = 0;  // files the module left in the folder because it cannot read them
};

struct ModulePresence {
  std::optional<int> pid;          // the process holding the lock; empty when none does
  std::optional<PollState> poll;   // the state file's facts; empty when there is none
  // Without a pid: why nobody can tell whether the module runs ("cannot read the lock
  // folder ..."); empty when it surely does not.
  std::string unknown;
};

// Asks the home's instance lock (in DB_Dir + "lock/") for its holder and reads the state
// file beside it; a lock folder that cannot be examined makes the answer unknown. Never
// throws.
ModulePresence find_module(const std::string& db_dir);

// Reads "name=value" lines of a state file; nullopt when last_poll is missing.
std::optional<PollState> parse_poll_state(const std::string& text);

}  // namespace dexweb::ctl
