#pragma once
// What an operator wants to see of a gateway at a glance: whether the module runs, what
// waits in the watched folder, the last rows it wrote and the last files it left, and what
// the module's log file tells of the messages of the last hour.
//
// Whether the module runs is asked of the home's instance lock (never by process name, so
// another home's module on the same computer does not count), with what it wrote into its
// state file after its last poll (shell/internal/poll_schedule.h). The log file holds a refusal as
// "Message rejected. Recipient: R Sender: S Source: PATH" and the reason on the next line
// (that line is "detail" for most reasons: at log level 1 the reason is not logged).

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/datetime.h"

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

inline constexpr std::size_t kActivityMinutes = 60;

struct RefusalFact {
  std::string when;       // yyyy-mm-dd hh:nn:ss
  std::string recipient;
  std::string sender;
  std::string source;     // the bad copy
  std::string reason;     // empty when the log does not hold it
};

struct LogActivity {
  DateTime now{};  // the local time the minutes count back from
  // Index 0 is the minute that ends now, kActivityMinutes - 1 the oldest.
  std::array<int, kActivityMinutes> accepted{};
  std::array<int, kActivityMinutes> refused{};
  std::vector<RefusalFact> refusals;  // of the whole tail read, newest first, at most kStatusRows
};

struct FileFact {
  std::string name;  // without the folder
  std::string modified;  // local time, yyyy-mm-dd hh:nn:ss
};

struct MessageFact {
  std::string record_id, user, pin, frm, requested, message;
};

struct FolderFacts {
  std::string folder;
  std::size_t count = 0;         // every matching file
  std::vector<FileFact> newest;  // the newest few, newest first
  long long oldest_epoch = 0;    // modification time of the oldest, seconds since the epoch (0: none)
};

struct GatewayStatus {
  ModulePresence module;  // the holder of this home's instance lock and its last poll
  long long now_epoch = 0;  // when the facts were read, seconds since the epoch
  bool control_found = false;
  bool run = false, pause = false, state = false;  // the control row's dexweb_* flags
  FolderFacts waiting;     // *.msg in the watched folder
  FolderFacts bad_copies;  // *.web in Log_Dir + badmsg/
  FolderFacts mail_files;  // *.msg in DB_Dir + MailOut/
  std::vector<MessageFact> messages;  // the last rows of messages, newest first
  long long message_rows = 0;         // every row of messages
  LogActivity activity;               // the log file's last hour and refusals
};

// How many files and rows of each kind are shown.
inline constexpr std::size_t kStatusRows = 10;

// Reads the gateway of the registry file; raises RuntimeError when its database cannot be
// read. Missing folders count as empty.
GatewayStatus read_gateway_status(const std::string& registry_path);

// One word for the module's state: "unknown" when nobody can tell whether it runs (the lock
// folder cannot be read), "stopped" when nobody holds the home's lock, else "stopping" when
// the control row says not to run, "paused" when it says to pause, "running" otherwise.
std::string state_word(const GatewayStatus& status);
// The word, and for "unknown" why: "unknown: cannot read the lock folder ...".
std::string state_text(const GatewayStatus& status);
// What the control row does to the module, one sentence each with the command that undoes
// it; none when the module may run.
std::vector<std::string> control_problems(bool found, bool run, bool pause);
// The control row's flags as "dexweb_run true, dexweb_pause false, dexweb_state true", or
// "no control row".
std::string control_summary(const GatewayStatus& status);

// The lines of text, each without its LF, CR LF or lone CR; no empty last line for a final
// line end.
std::vector<std::string> split_lines(std::string_view text);

}  // namespace dexweb::ctl
