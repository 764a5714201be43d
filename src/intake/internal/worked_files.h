#pragma once
// The record of worked web files (table worked_files): each worked file's identity is
// written in the transaction of its rows (alone, in a transaction of its own, when it has
// none: refused, aborted by a filter, every PIN blacklisted), before anything about it is
// reported. A file whose identity is recorded is never worked again: not after a crash
// between the commit and the deletion, not when it cannot be deleted, not when the same
// file comes back, across restarts and across modules that share the database. The unique
// identity is also the arbiter between two modules that work the same file at once: the
// second commit fails and that module drops its rows and reports.
//
// Identity: the name, the size and modification time (to the nanosecond) as the open entry
// showed them, and a 64-bit FNV-1a hash of the name and the bytes read. A file written anew
// under a used name differs in time or content, so it is a new file.
//
// Where the table is missing and cannot be created (a server account without DDL rights),
// one warning is logged per run and files are worked as without the record. Records older
// than Worked_Files_Retention_Days (key ...\Velotrax, default 7) are removed at most once an
// hour.

#include <optional>
#include <string>
#include <vector>

#include "data/worked_files_sql.h"
#include "intake/worked_files_state.h"
#include "platform/folder_entry.h"

namespace dexweb {

class DBObject;
class ErrorPolicy;

inline constexpr int kDefaultWorkedRetentionDays = 7;

// The identity of a file as read (at most 64 ASCII characters).
std::string FileIdentity(const std::string& name, const platform::FileStamp& stamp, const std::string& bytes);

// Worked_Files_Retention_Days from the registry; the default when missing or below 1.
int worked_retention_days();

// A file's record as found.
struct WorkedEntry {
  bool refused = false;
  std::string bad_copy;
  std::string worked_by;
};

class WorkedFiles {
 public:
  WorkedFiles(DBObject& db, ErrorPolicy& policy, WorkedFilesState& state, const std::string& machine);

  // Once per run: creates the table where missing (one warning when it cannot be made);
  // then, at most once an hour, prunes old records in one attempt. A prune that a lock or a
  // time-out kept from running is logged (detail) and tried at the next hour; an account
  // without DELETE on the table gets one general warning and no more tries in the run;
  // any other failure (a damaged database) is raised.
  void prepare();
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

 private:
  void prune(DateTime cutoff);
  bool write_quietly(const std::vector<SqlStatement>& statements);

  DBObject& db_;
  ErrorPolicy& policy_;
  WorkedFilesState& state_;
};

}  // namespace dexweb
