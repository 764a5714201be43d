// Opening and closing the database. The operations with their retries are in
// db_operations.cpp.
#include "data/db_object.h"

#include <utility>

#include "data/connection_file.h"
#include "data/internal/db_failure.h"
#include "data/internal/db_log.h"
#include "data/internal/db_messages.h"
#include "data/dialect.h"
#include "data/internal/error_numbers.h"
#include "data/internal/odbc_engine.h"
#include "data/internal/sqlite_engine.h"
#include "platform/clock.h"
#include "logging/log_files.h"
#include "platform/file_identity.h"
#include "platform/files.h"
#include "util/datetime.h"
#include "util/random.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

constexpr const char* kConnectionFile = "SqlServerConnectionString.txt";
constexpr const char* kDatabaseFile = "velotrax.db";

bool remove_quietly(const std::string& path) {
  try {
    platform::remove_file(path);
    return true;
  } catch (const RuntimeError&) {
    return false;
  }
}

}  // namespace

DBObject::DBObject(DatabaseSettings settings) : settings_(std::move(settings)) {}

DBObject::~DBObject() {
  try {
    close_connection();
  } catch (...) {
    // The object ends whatever its last close met; the file stays as it is.
  }
}

void DBObject::SetEngineDecoratorForTests(EngineDecorator decorate) {
  decorate_ = std::move(decorate);
  if (engine_ && decorate_) engine_ = decorate_(std::move(engine_));
}

void DBObject::install(std::unique_ptr<DbEngine> engine) {
  engine_ = decorate_ ? decorate_(std::move(engine)) : std::move(engine);
}

void DBObject::SetLockRetry(int tries) {
  if (engine_) engine_->SetLockRetry(tries);
}

DbEngine& DBObject::engine() {
  if (!engine_) throw DbFailure(3704, "Operation is not allowed when the object is closed.", {}, "DBObject");
  return *engine_;
}

// Runs one step of the open, retrying it as the open's policy says. attempts counts the
// failures of the whole OpenDb call.
template <typename Step>
void DBObject::open_step(int& attempts, int retries, Step&& step) {
  for (;;) {
    int number = 0;
    std::string description, source = "DBObject";
    std::vector<std::string> lines;
    try {
      step();
      return;
    } catch (const DbFailure& f) {
      number = f.number();
      description = f.description();
      source = f.source();
      lines = f.engine_errors();
    } catch (const RuntimeError& e) {
      if (e.is_final()) raise_final(e.number(), e.description(), e.source());
      number = e.number();
      description = e.description();
      source = e.source();
    }
    if (number == err::kDbInvalidArgument) raise_final(number, "Invalid argument in connection string", source);
    if (number == err::kDbNotValidPassword) raise_final(number, description, source);
    if (number == err::kDbCanceledByUser) raise_final(err::kDbNotValidPassword, "DB authentication error", source);
    if (++attempts > retries) raise_final(number, with_engine_lines(description, lines), source);

    db_warning("Warning - DbObject.OpenDb:" + signed_number(number) + " " + description + " - Retrying...");
    for (const auto& line : lines) db_warning(std::string(uses_server_ ? "ADO: " : "DAO: ") + line);
    wait_or_stop(settings_.short_timeout + rnd());
  }
}

void DBObject::OpenDb(int retries) {
  if (opened_) return;
  if (retries == -1) retries = settings_.retries;
  int attempts = 0;
  open_step(attempts, retries, [&] { find_connection_file(); });
  if (uses_server_) {
    open_step(attempts, retries, [&] { open_server(); });
    const std::string isolation = SqlDialect().isolation_statement(settings_.isolation_level);
    if (!isolation.empty())
      open_step(attempts, retries, [&] { engine_->Run(isolation, settings_.short_timeout); });
  } else {
    open_step(attempts, retries, [&] { open_embedded(); });
  }
  opened_ = true;
  if (std::exchange(switched_, false)) {
    db_log(LogLevel::General, "The database file " + opened_path_ +
                          " is not the one opened before: the module goes on with the file now there");
    CheckIntegrity();
  }
}

// While the embedded database is in use the file is looked for at every open.
void DBObject::find_connection_file() {
  if (!connection_string_.empty()) return;
  std::string path = platform::resolve_name_nocase(settings_.db_dir, kConnectionFile);
  auto info = platform::stat_path(path);
  if (!info || info->is_dir) return;
  ServerConnection server = read_connection_file(path, settings_);
  connection_string_ = server.connection_string;
  driver_clauses_ = server.driver_clauses;
  uses_server_ = true;
}

void DBObject::open_server() {
  auto server = OdbcEngine::Connect(driver_clauses_);
  kind_ = server->kind();
  install(std::move(server));
}

void DBObject::open_embedded() {
  lock_delay_ms_ = static_cast<int>(rnd() * 50) + 25;
  kind_ = DatabaseKind::Embedded;
  const std::string path = platform::resolve_name_nocase(settings_.db_dir, kDatabaseFile);
  // Taken before the open: a file swapped in meanwhile then looks replaced at the next
  // check and is opened again, never the other way round.
  // Nothing of a file that left the path may be read as the next one's.
  move_stale_aside();
  const std::optional<platform::FileIdentity> before = opened_file_;
  opened_file_ = platform::file_identity(path);
  opened_path_ = path;
  install(SqliteEngine::Open(path, lock_delay_ms_, LockRetries()));
  switched_ = before && before != opened_file_;
}

void DBObject::CheckIntegrity() {
  OpenDb(1);
  if (uses_server_) return;
  std::string verdict;
  try {
    // Reads every page: no time limit.
    std::unique_ptr<Recordset> rs = engine().Query("PRAGMA quick_check", 0);
    verdict = rs->Eof() ? "no answer" : rs->AsText("quick_check");
  } catch (const DbFailure& f) {
    raise_final(f.number(), with_engine_lines(f.description(), f.engine_errors()), f.source());
  }
  if (verdict != "ok") raise_final(err::kDbCorrupt, "database disk image is malformed: " + verdict, "SQLite");
}

std::optional<platform::FileIdentity> DBObject::file_at_path() const {
  // The name as written is the usual case: one stat answers the question.
  std::optional<platform::FileIdentity> now = platform::file_identity(settings_.db_dir + kDatabaseFile);
  if (!now) now = platform::file_identity(platform::resolve_name_nocase(settings_.db_dir, kDatabaseFile));
  return now;
}

DBObject::Departure DBObject::departure() const {
  const std::optional<platform::FileIdentity> now = file_at_path();
  if (!now) return Departure::Missing;
  if (now != opened_file_) return Departure::Replaced;
  for (const CompanionFile& c : engine_->Companions())
    if (c.identity && platform::file_identity(c.path) != c.identity) return Departure::LogChanged;
  return Departure::None;
}

void DBObject::CheckDatabaseFile() {
  if (uses_server_) return;
  if (!opened_) {
    move_stale_aside();
    // Until a file is back, the error routine's retries meet the same error as the first
    // attempt, and its rounds run as for any retryable error.
    if (left_missing_ && !file_at_path()) raise_missing();
    left_missing_ = false;
    return;
  }
  switch (departure()) {
    case Departure::None: return;
    case Departure::Missing:
      leave_path(Departure::Missing);
      left_missing_ = true;
      move_stale_aside();
      raise_missing();
    case Departure::Replaced:
      leave_path(Departure::Replaced);
      OpenDb(1);
      return;
    case Departure::LogChanged:
      db_log(LogLevel::General, "The write-ahead log of " + opened_path_ +
                            " was deleted or replaced under the open database: its pages go into the database "
                            "file and the database is opened again");
      leave_path(Departure::LogChanged);
      OpenDb(1);
      return;
  }
}

void DBObject::raise_missing() const {
  throw RuntimeError(err::kDbFileNotFound, "unable to open database file: " + opened_path_ + " is missing", "SQLite");
}

// The log goes into the file it was written for; then nothing of the connection may stay
// at the path for the next file there to take as its own. What cannot be removed is noted
// to be moved aside (move_stale_aside).
void DBObject::leave_path(Departure why) {
  const std::vector<CompanionFile> companions = engine_->Companions();
  const bool emptied = engine_->EmptyLog();
  engine_.reset();
  opened_ = false;
  for (const CompanionFile& c : companions) {
    const std::optional<platform::FileIdentity> now = platform::file_identity(c.path);
    if (!now) continue;
    const bool own = now == c.identity;
    // Where another file is at the path now, another log may be that file's.
    if (!own && why == Departure::Replaced) continue;
    if (own && emptied && remove_quietly(c.path)) continue;
    std::string reason = !own ? "it is not the one the connection to " + opened_path_ + " was using"
                         : why == Departure::LogChanged
                             ? "it belongs to the write-ahead log that was deleted or replaced"
                             : "it holds pages of a database file that is no longer at " + opened_path_;
    stale_.push_back({c.path, std::move(reason)});
  }
}

void DBObject::move_stale_aside() {
  while (!stale_.empty()) {
    const StaleFile& file = stale_.back();
    if (platform::file_identity(file.path)) {
      const std::string base = file.path + ".stale-" + format_compact(platform::server_now());
      std::string target = base;
      for (int n = 2; !platform::rename_no_replace(file.path, target); ++n) target = base + "-" + std::to_string(n);
      db_log(LogLevel::General, "Moved " + file.path + " aside to " + target + ": " + file.why);
    }
    stale_.pop_back();
  }
}

void DBObject::CloseDb() { close_connection(); }

void DBObject::close_connection() {
  if (!opened_) return;
  if (engine_ && !uses_server_) {
    const Departure why = departure();
    if (why != Departure::None) {
      leave_path(why);
      try {
        move_stale_aside();
      } catch (const RuntimeError& e) {
        db_log(LogLevel::General, "Unable to move a file of the database aside, tried again before the next open: " +
                              e.description());
      }
      return;
    }
  }
  engine_.reset();
  opened_ = false;
}

void DBObject::reconnect() {
  CloseDb();
  OpenDb(1);
}

void free_recordset(std::unique_ptr<Recordset>& rs) {
  if (rs) rs->Close();
  rs.reset();
}

void free_database(std::unique_ptr<DBObject>& db) {
  if (db) db->CloseDb();
  db.reset();
}

}  // namespace dexweb
