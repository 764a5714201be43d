#pragma once
// What an operator wants to see of a gateway at a glance: whether the module runs, what
// waits in the watched folder, the last rows it wrote and the last files it left.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tools/log_activity.h"
#include "tools/module_presence.h"

namespace dexweb::ctl {

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

}  // namespace dexweb::ctl
