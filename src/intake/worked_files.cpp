#include "intake/internal/worked_files.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "config/registry.h"
#include "data/db_object.h"
#include "data/dialect.h"
#include "intake/internal/intake_call.h"
#include "intake/internal/intake_log.h"
#include "intake/message_rows.h"
#include "logging/error_policy.h"
#include "platform/clock.h"
#include "util/random.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr double kPruneEverySeconds = 3600;

std::uint64_t fnv1a(std::uint64_t hash, std::string_view bytes) {
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

// A raised database error's own text, without the engine's lines and the statement.
std::string first_line(const std::string& description) { return description.substr(0, description.find("\r\n")); }

std::string run_name(const std::string& machine) {
  char number[16];
  std::snprintf(number, sizeof number, "%08x", static_cast<unsigned>(rnd() * 4294967296.0));
  return text::left(text::trim(machine), kWorkedByLimit - 9) + " " + number;
}

}  // namespace

std::string FileIdentity(const std::string& name, const platform::FileStamp& stamp, const std::string& bytes) {
  std::uint64_t hash = fnv1a(0xcbf29ce484222325ULL, name);
  hash = fnv1a(hash, std::string_view("\0", 1));
  hash = fnv1a(hash, bytes);
  const auto nanoseconds =
      std::chrono::duration_cast<std::chrono::nanoseconds>(stamp.modified.time_since_epoch()).count();
  // "%016llx-%llu-%lld", without the cost of a format string for every file.
  char hex[16];
  const auto end = std::to_chars(hex, hex + sizeof hex, hash, 16).ptr;
  std::string key(sizeof hex - static_cast<std::size_t>(end - hex), '0');
  key.append(hex, end);
  key += '-';
  key += std::to_string(stamp.size);
  key += '-';
  key += std::to_string(static_cast<long long>(nanoseconds));
  return key;
}

int worked_retention_days(const RegistrySettings& registry) {
  const auto days = registry_whole_number(registry.Worked_Files_Retention_Days, 1, 36500);
  return days ? static_cast<int>(*days) : kDefaultWorkedRetentionDays;
}

WorkedFiles::WorkedFiles(DBObject& db, ErrorPolicy& policy, WorkedFilesState& state, const std::string& machine,
                         int retention_days)
    : db_(db), policy_(policy), state_(state), retention_days_(retention_days) {
  if (state_.run_name.empty()) state_.run_name = run_name(machine);
}

void WorkedFiles::prepare(const std::function<bool(const std::string&, const std::string&)>& still_present) {
  const Dialect& dialect = db_.SqlDialect();
  if (!enabled()) {
    // Quiet, and tried again at the next poll: a busy database or an account without the
    // right to create tables fails here without retries.
    db_.Execute(worked_files_sql::create_table(dialect), {.timeout = 0});
    auto rs = db_.OpenRecordset(worked_files_sql::exists_query(dialect), {.ignore_failure = true});
    if (rs && !rs->Eof() && rs->AsLong("found") == 1) state_.table = WorkedFilesState::Table::Ready;
    else if (!std::exchange(state_.warned, true))
      warn_general("Warning - the table worked_files is missing and could not be created: a web file found again "
                  "after a crash may be worked twice");
  }
  if (!enabled() || state_.prune_refused) return;
  const platform::SteadyPoint now = platform::clock().steady_now();
  if (state_.next_prune && now < *state_.next_prune) return;
  state_.next_prune = platform::steady_after(kPruneEverySeconds);
  prune(still_present);
}

// One attempt, without the retry policy's waits, so that the files waiting are never held
// up by it: a lock or a time-out leaves the old records for the next hour's prune.
void WorkedFiles::prune(const std::function<bool(const std::string&, const std::string&)>& still_present) {
  const Dialect& dialect = db_.SqlDialect();
  const DateTime cutoff = platform::server_now() - std::chrono::hours(24) * retention_days_;
  try {
    ScopedRetries once(db_, 0);
    // A record whose file is still there (undeletable, kept for its copy) must outlive it, or
    // the file would be worked again.
    std::vector<SqlStatement> keep;
    for (auto rs = db_.OpenRecordset(worked_files_sql::older_than(dialect, cutoff)); rs && !rs->Eof(); rs->MoveNext())
      if (still_present(rs->AsText("file_key"), rs->AsText("name")))
        keep.push_back(worked_files_sql::keep(dialect, rs->AsText("file_key")));
    if (!keep.empty()) db_.BulkExecute(keep, {.fail_on_first_error = true});
    db_.Execute(worked_files_sql::prune(dialect, cutoff));
  } catch (const RuntimeError& e) {
    if (e.number() == err::kDbNoPermission) {
      state_.prune_refused = true;
      warn_general("Warning - the database account may not delete from the table worked_files: its old records "
                   "are not pruned in this run (" + first_line(e.description()) + ")");
      return;
    }
    if (!is_retryable_db_error(e.number())) throw;
    log_detail("The old records of worked files were not pruned, tried again in an hour: " +
               first_line(e.description()));
  }
}

void WorkedFiles::note_copy_made(const std::string& file_key, const std::string& bad_copy) {
  if (!enabled()) return;
  const SqlStatement update = worked_files_sql::copy_made(db_.SqlDialect(), file_key, bad_copy);
  policy_.with_retry(kIntakeProcedure, [&] { db_.BulkExecute({update}); });
}

void WorkedFiles::note_notified(const std::string& file_key) {
  if (!enabled()) return;
  const SqlStatement update = worked_files_sql::notified(db_.SqlDialect(), file_key);
  policy_.with_retry(kIntakeProcedure, [&] { db_.BulkExecute({update}); });
}

std::optional<WorkedEntry> WorkedFiles::Find(const std::string& file_key) {
  auto rs = db_.OpenRecordset(worked_files_sql::lookup(db_.SqlDialect(), file_key));
  if (!rs || rs->Eof()) return std::nullopt;
  return WorkedEntry{rs->AsBool("refused"), rs->AsText("bad_copy"), rs->AsText("worked_by"), rs->AsBool("copy_made"),
                     rs->AsBool("notified")};
}

// One attempt without the retry policy's waits: a second module's commit of the same file
// makes the record's INSERT fail at once, and most failures need no retry.
bool WorkedFiles::write_quietly(const std::vector<SqlStatement>& statements) {
  return db_.BulkExecute(statements, {.timeout = 0});
}

bool WorkedFiles::store(std::vector<SqlStatement> statements, const WorkedFileRow& row) {
  if (!enabled()) {
    if (!statements.empty()) policy_.with_retry(kIntakeProcedure, [&] { write_message_rows(db_, statements); });
    return true;
  }
  const Dialect& dialect = db_.SqlDialect();
  const SqlStatement record = worked_files_sql::insert(dialect, row);
  // The batch's: DB_Short_Timeout for each statement, the record and the commit included.
  const int timeout = static_cast<int>(statements.size() + 2) * db_.Settings().short_timeout;
  const std::optional<SqlStatement> folded = fold_message_write(dialect, db_.Counter().record_id, record, statements);
  // The record comes first: a second module waits on the key and fails before its rows.
  if (!folded) statements.insert(statements.begin(), record);
  // True when this call recorded the file, false when it was recorded already (which only
  // the folded write tells: the batch fails on the key); nullopt when a quiet attempt failed.
  auto write = [&](int t) -> std::optional<bool> {
    if (folded) {
      const auto rs = db_.BulkQuery(*folded, {.timeout = t});
      if (!rs) return std::nullopt;
      return !rs->Eof() && rs->AsLong("worked") == 1;
    }
    if (t == 0) return write_quietly(statements) ? std::optional<bool>(true) : std::nullopt;
    write_message_rows(db_, statements);
    return true;
  };
  auto own_record = [&]() -> std::optional<bool> {
    if (auto found = Find(row.file_key)) return found->worked_by == row.worked_by;
    return std::nullopt;
  };
  // The quiet first attempt must not write into a database file that left its path either,
  // and it raises what no call may pass over (a damaged database).
  if (policy_.with_retry(kIntakeProcedure, [&] {
        db_.CheckDatabaseFile();
        return write(0);
      }) == true)
    return true;
  return policy_.with_retry(kIntakeProcedure, [&]() -> bool {
    if (auto own = own_record()) return *own;
    try {
      if (write(timeout).value_or(false)) return true;
    } catch (const RuntimeError& e) {
      // A failure the database object gave up on stays final while the record is looked up.
      if (e.is_final()) policy_.make_final();
      if (auto own = own_record()) return *own;
      throw;
    }
    // Another module recorded it since the look-up.
    return own_record().value_or(false);
  });
}

}  // namespace dexweb
