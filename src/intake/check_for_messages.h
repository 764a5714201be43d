#pragma once
// The poll of the watched folder (settings.dexwebcgi_path): each listed message file is
// read, checked, resolved into rows of the messages table or refused, and deleted; and what
// one poll works with: the daemon's per-run state, lent for the length of the call.

#include <functional>
#include <string>

#include "config/gateway_settings.h"
#include "config/registry.h"

namespace dexweb {

class DBObject;
class RecipientList;
class BlackList;
class LeftoverFiles;
class WriterWatch;
class ClaimFolders;
class FolderIndex;
class WatchedFolder;
class ErrorPolicy;

// Message files a run has worked to the end, by outcome: accepted when at least one
// recipient got a row, refused when none did and the file or a recipient was refused.
// Files a filter aborted and files whose every recipient was blacklisted count in neither.
// The recipients of the run's files, counted where each is given a row or refused (the
// status line's and the state file's "accepted" and "refused").
struct MessageCounts {
  long long accepted = 0;
  long long refused = 0;
  long long recipients_accepted = 0;
  long long recipients_refused = 0;
};

struct IntakeContext {
  DBObject& db;
  ErrorPolicy& policy;
  const RegistrySettings& registry;
  const GatewaySettings& settings;
  RecipientList& recipients;
  const BlackList& blacklist;
  bool first_poll;
  std::string interface_name;  // "DexWeb"
  std::string machine_name;
  std::string temp_folder;  // private to the module's account; empty when it could not be made
  // Files this run is done with that stay in the folder; owned by the daemon for the run.
  LeftoverFiles& leftover_files;
  // Files whose writers may not have finished; owned by the daemon for the run.
  WriterWatch& writers;
  // The run's message counts; owned by the daemon for the run.
  MessageCounts& counts;
  // The watched folder as the run knows it, and the run's claims there; the daemon's.
  WatchedFolder& watched_folder;
  ClaimFolders& claims;
  // The watched folder's entries by age while the daemon's folder watch keeps them; null:
  // each poll lists the folder.
  FolderIndex* folder_index = nullptr;
  // Out: the poll found only files that their writers hold open (nothing to poll again for
  // before the folder watch or the poll interval says so).
  bool held_only = false;
  // True once the module was asked to stop: no further file is started.
  std::function<bool()> stop_requested = [] { return false; };
};

// Seconds after the start of the loop during which files are still started.
inline constexpr double kPollBudgetSeconds = 10;

// True when the listing held at least one message file (also files left for later polls);
// false when the folder held none or could not be reached ("Unable to access folder: " is
// logged on the first poll only). Persistent errors end in the error routine's halt.
bool check_for_messages(IntakeContext& ctx);

}  // namespace dexweb
