#pragma once
// The record of worked web files (table worked_files): each worked file's key is written in
// the transaction of its rows (alone, in a transaction of its own, when it has none: refused,
// aborted by a filter, every PIN blacklisted), before anything about it is reported, together
// with what is done: the rows, whether the bad copy exists, whether its refusals were
// reported and notified. A file whose key is recorded gets no rows again; what is missing is
// finished (the copy, the reports), across restarts and across modules that share the
// database.
//
// Key: the claim (intake/claim_folders.h), so that a file sent again, whatever its name,
// bytes and times, is a new message. A file worked in place (it could not be claimed) is
// keyed by its identity instead: the name, the size and modification time (to the
// nanosecond) as the open entry showed them, and a 64-bit FNV-1a hash of the name and the
// bytes read; there the key is also the arbiter between two modules that work the same file
// at once: the second commit fails and that module drops its rows and reports.
//
// Where the table is missing and cannot be created, files are worked as without the record
// and its creation is tried again at each poll; one warning per run. Records older than
// Worked_Files_Retention_Days (key ...\Velotrax, default 7) are removed at most once an
// hour, except those whose files are still there.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/registry.h"
#include "data/worked_files_sql.h"
#include "intake/worked_files_state.h"
#include "platform/folder.h"

namespace dexweb {

class DBObject;
class ErrorPolicy;

inline constexpr int kDefaultWorkedRetentionDays = 7;

// The identity of a file as read (at most 64 ASCII characters).
std::string FileIdentity(const std::string& name, const platform::FileStamp& stamp, const std::string& bytes);

// Worked_Files_Retention_Days of the registry settings; the default when missing or below 1.
int worked_retention_days(const RegistrySettings& registry);

// A file's record as found.
struct WorkedEntry {
  bool refused = false;
  std::string bad_copy;
  std::string worked_by;
  bool copy_made = false;
  bool notified = false;
};

class WorkedFiles {
 public:
  // Records older than retention_days are pruned.
  WorkedFiles(DBObject& db, ErrorPolicy& policy, WorkedFilesState& state, const std::string& machine,
              int retention_days);

  // Creates the table where missing (one warning per run when it cannot be made; tried
  // again at each call until it exists); then, at most once an hour, prunes old records
  // except those whose files still_present says are there, in one attempt. A prune that a
  // lock or a time-out kept from running is logged (detail) and tried at the next hour; an
  // account without DELETE on the table gets one general warning and no more tries in the
  // run; any other failure (a damaged database) is raised.
  void prepare(const std::function<bool(const std::string& key, const std::string& name)>& still_present);
  // False when the table is not available this run.
  bool enabled() const { return state_.table == WorkedFilesState::Table::Ready; }
  // The name this run signs its records with.
  const std::string& current_run_name() const { return state_.run_name; }

  // The file's record, when it was worked. Raises the data layer's RuntimeError.
  std::optional<WorkedEntry> Find(const std::string& file_key);

  // Writes the record and the statements in one transaction, under the intake's error
  // policy. True when the file is this run's to report (the commit was this run's); false
  // when another module recorded it first, and then nothing of this call stays. Without
  // the table, only the statements are written (true).
  bool store(std::vector<SqlStatement> statements, const WorkedFileRow& row);
  // Records that a key's bad copy was made (at bad_copy), or that its refusals were
  // reported; nothing without the table. Under the intake's error policy.
  void note_copy_made(const std::string& file_key, const std::string& bad_copy);
  void note_notified(const std::string& file_key);

 private:
  bool write_quietly(const std::vector<SqlStatement>& statements);
  void prune(const std::function<bool(const std::string& key, const std::string& name)>& still_present);

  DBObject& db_;
  ErrorPolicy& policy_;
  WorkedFilesState& state_;
  int retention_days_;
};

}  // namespace dexweb
