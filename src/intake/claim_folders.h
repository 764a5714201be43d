#pragma once
// Claims on the files of the watched folder. Before a file is read the module moves it, by
// one rename on the same file system, into a claim folder of its own inside the watched
// folder (".dexweb/" + instance + "/", a name the scan never lists), under a claim name
// never used before: from then on the file is this module's alone, and its deletion there
// ends its work. A file another module claimed first is simply gone. Several modules on one
// folder so claim different files.
//
// Each run is an instance: its folder's name is the start time and 64 random bits, and a
// claim's name is "SEQUENCE-NAME" (the original name kept for the log texts); the claim's
// key, instance + "-" + sequence, names it in the record of worked files for ever. The
// instance holds an flock on the file "lock" in its folder while it runs; a folder whose lock
// is free belongs to a dead run (killed, halted, on a computer that went away) and is taken
// over by the first live module that sees it, which finishes its files and removes it.
//
// The daemon owns one for the run; a stop removes the run's folder when it is empty.

#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/folder.h"

namespace dexweb {

inline constexpr const char* kClaimRoot = ".dexweb";

// A claimed file: where it lies and what names it.
struct ClaimedFile {
  const platform::Folder* folder = nullptr;  // its claim folder, held for the run
  std::string claim_name;                    // its name there
  std::string name;                          // its name in the watched folder
  std::string key;                           // the claim's key
};

class ClaimFolders {
 public:
  ClaimFolders();
  ~ClaimFolders();
  ClaimFolders(const ClaimFolders&) = delete;
  ClaimFolders& operator=(const ClaimFolders&) = delete;

  // Binds the claims to the watched folder as opened for this poll: when it is another folder
  // than at the last poll, the folders held there are let go. Makes this run's claim folder
  // where it is missing. Never throws.
  void attach(const platform::Folder& watched);

  enum class Outcome {
    Claimed,   // moved into this run's claim folder: `file` names it
    Gone,      // the name was gone: another module took it
    InPlace,   // it may not be moved here (another owner's file in a sticky folder, no
               // claim folder, ...): it is worked where it is
  };
  Outcome claim(const platform::Folder& watched, const std::string& name, ClaimedFile& file);

  // The claimed files still to be finished: those of dead runs' folders taken over now, and
  // those left in held folders that asked to be looked at again (a file whose writer still
  // held it). Folders left empty are removed.
  std::vector<ClaimedFile> files_to_finish();
  // Asks that this run's folder be looked at again at the next poll.
  void look_again() { own_look_again_ = true; }

  // Whether the file of a worked-files record is still there: a claim's file in its claim
  // folder, or a file of the watched folder worked in place.
  bool still_present(const platform::Folder& watched, const std::string& key, const std::string& name) const;

 private:
  struct Held {
    platform::Folder folder;
    platform::Fd lock;
    std::string instance;
    bool look_again = false;
  };

  void make_own_folder(const platform::Folder& watched);
  void take_over_dead_folders();
  void release_all();
  bool remove_if_empty(const Held& held) const;

  platform::Folder watched_;  // the watched folder the claims belong to
  platform::Folder root_;     // its ".dexweb"
  std::list<Held> held_;      // this run's folder first, then folders taken over
  std::string instance_;
  std::uint64_t sequence_ = 0;
  bool own_ready_ = false;
  bool own_failed_ = false;   // reported once per watched folder; tried again at each poll
  bool own_look_again_ = false;
};

}  // namespace dexweb
