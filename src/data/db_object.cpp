// Opening and closing the database. The operations with their retries are in
// db_operations.cpp.
#include "data/db_object.h"

#include "data/connection_file.h"
#include "data/internal/db_failure.h"
#include "data/internal/db_log.h"
#include "data/internal/db_messages.h"
#include "data/dialect.h"
#include "data/internal/error_numbers.h"
#include "data/internal/odbc_engine.h"
#include "data/internal/sqlite_engine.h"
#include "platform/event_loop.h"
#include "platform/file_identity.h"
#include "platform/files.h"
#include "util/random.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

constexpr const char* kConnectionFile = "SqlServerConnectionString.txt";
constexpr const char* kDatabaseFile = "velotrax.db";
}  // namespace

DBObject::DBObject(DatabaseSettings settings) : settings_(std::move(settings)) {}
DBObject::~DBObject() = default;

platform::SqliteConnection* DBObject::GetDb() {
  auto* embedded = dynamic_cast<SqliteEngine*>(engine_.get());
  return embedded ? &embedded->connection() : nullptr;
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
    platform::wait_seconds(settings_.short_timeout + rnd());
  }
}

bool DBObject::OpenDb(int retries) {
  if (opened_) return true;
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
  return true;
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
  opened_file_ = platform::file_identity(path);
  install(SqliteEngine::Open(path, lock_delay_ms_, LockRetries()));
}

void DBObject::CheckDatabaseFile() {
  if (!opened_ || uses_server_) return;
  // The name as written is the usual case: one stat answers both questions.
  std::string path = settings_.db_dir + kDatabaseFile;
  std::optional<platform::FileIdentity> now = platform::file_identity(path);
  if (!now) {
    path = platform::resolve_name_nocase(settings_.db_dir, kDatabaseFile);
    now = platform::file_identity(path);
  }
  if (!now)
    throw RuntimeError(err::kDbFileNotFound, "unable to open database file: " + path + " is missing", "SQLite");
  if (now == opened_file_) return;
  engine().LeaveReplacedFile();
  CloseDb();
  OpenDb(1);
}

void DBObject::CloseDb() {
  if (opened_) {
    engine_.reset();
    opened_ = false;
  }
  platform::process_pending();
}

void DBObject::reconnect() {
  CloseDb();
  platform::process_pending();
  OpenDb(1);
  platform::process_pending();
}

void DBObject::UpdateDbPassword(std::string_view) {
  throw RuntimeError(err::kDbNotSupported,
                     "Operation is not supported for this type of object: the database has no password",
                     "DBObject");
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
