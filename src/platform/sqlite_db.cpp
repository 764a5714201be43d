#include "platform/sqlite_db.h"

#include <sqlite3.h>

#include <cstring>
#include <utility>

namespace dexweb::platform {

SqliteError::SqliteError(int code, int extended_code, std::string message)
    : std::runtime_error(message), code_(code), extended_(extended_code), message_(std::move(message)) {}

std::string SqliteError::code_text() const { return sqlite3_errstr(code_); }

namespace {

[[noreturn]] void throw_for(sqlite3* db, int rc) {
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  int extended = db ? sqlite3_extended_errcode(db) : rc;
  throw SqliteError(rc & 0xff, extended, std::move(message));
}

}  // namespace

// ---- statement ----

SqliteStatement::SqliteStatement(SqliteStatement&& o) noexcept
    : db_(std::exchange(o.db_, nullptr)), stmt_(std::exchange(o.stmt_, nullptr)) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& o) noexcept {
  if (this != &o) {
    sqlite3_finalize(stmt_);
    db_ = std::exchange(o.db_, nullptr);
    stmt_ = std::exchange(o.stmt_, nullptr);
  }
  return *this;
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

bool SqliteStatement::step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw_for(db_, rc);
}

void SqliteStatement::reset() noexcept {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

void SqliteStatement::bind(int index, std::int64_t value) {
  const int rc = sqlite3_bind_int64(stmt_, index, value);
  if (rc != SQLITE_OK) throw_for(db_, rc);
}

void SqliteStatement::bind(int index, std::string_view value) {
  const int rc = sqlite3_bind_text64(stmt_, index, value.data(), value.size(), SQLITE_STATIC, SQLITE_UTF8);
  if (rc != SQLITE_OK) throw_for(db_, rc);
}

int SqliteStatement::column_count() const { return sqlite3_column_count(stmt_); }

std::string SqliteStatement::column_name(int i) const {
  const char* n = sqlite3_column_name(stmt_, i);
  return n ? n : "";
}

std::string SqliteStatement::column_decltype(int i) const {
  const char* t = sqlite3_column_decltype(stmt_, i);
  return t ? t : "";
}

SqliteType SqliteStatement::column_type(int i) const {
  switch (sqlite3_column_type(stmt_, i)) {
    case SQLITE_INTEGER: return SqliteType::Integer;
    case SQLITE_FLOAT: return SqliteType::Float;
    case SQLITE_BLOB: return SqliteType::Blob;
    case SQLITE_NULL: return SqliteType::Null;
    default: return SqliteType::Text;
  }
}

std::int64_t SqliteStatement::column_int(int i) const { return sqlite3_column_int64(stmt_, i); }
double SqliteStatement::column_double(int i) const { return sqlite3_column_double(stmt_, i); }

std::string SqliteStatement::column_text(int i) const {
  const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, i));
  int n = sqlite3_column_bytes(stmt_, i);
  return p ? std::string(p, static_cast<std::size_t>(n)) : std::string();
}

// ---- connection ----

struct SqliteConnection::Deadline {
  std::chrono::steady_clock::time_point at;
  static int check(void* self) {
    return std::chrono::steady_clock::now() > static_cast<Deadline*>(self)->at ? 1 : 0;
  }
};

SqliteConnection::SqliteConnection(sqlite3* db) : db_(db), deadline_(std::make_unique<Deadline>()) {}

SqliteConnection::SqliteConnection(SqliteConnection&& o) noexcept
    : db_(std::exchange(o.db_, nullptr)), deadline_(std::move(o.deadline_)) {}

SqliteConnection& SqliteConnection::operator=(SqliteConnection&& o) noexcept {
  if (this != &o) {
    sqlite3_close_v2(db_);
    db_ = std::exchange(o.db_, nullptr);
    deadline_ = std::move(o.deadline_);
  }
  return *this;
}

SqliteConnection::~SqliteConnection() { sqlite3_close_v2(db_); }

SqliteConnection SqliteConnection::open(const std::string& path, bool create) {
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    int extended = db ? sqlite3_extended_errcode(db) : rc;
    // The system's reason (a missing file, no permission) is what an operator can act on.
    const int system_error = db ? sqlite3_system_errno(db) : 0;
    const std::string reason = system_error != 0 ? std::string(" (") + std::strerror(system_error) + ")" : "";
    sqlite3_close_v2(db);
    throw SqliteError(rc & 0xff, extended, message + ": " + path + reason);
  }
  sqlite3_extended_result_codes(db, 1);
  return SqliteConnection(db);
}

void SqliteConnection::fail(int rc) const { throw_for(db_, rc); }

void SqliteConnection::exec(std::string_view sql) {
  std::string_view rest = sql;
  while (!rest.empty()) {
    SqliteStatement st = prepare(rest, &rest);
    if (!st) break;
    while (st.step()) {
    }
  }
}

SqliteStatement SqliteConnection::prepare(std::string_view sql, std::string_view* rest) {
  sqlite3_stmt* stmt = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, &tail);
  if (rc != SQLITE_OK) fail(rc);
  if (rest) *rest = sql.substr(static_cast<std::size_t>(tail - sql.data()));
  return SqliteStatement(db_, stmt);
}

long long SqliteConnection::total_changes() const { return sqlite3_total_changes64(db_); }

bool SqliteConnection::in_transaction() const { return sqlite3_get_autocommit(db_) == 0; }

void SqliteConnection::set_busy_timeout(std::chrono::milliseconds wait) {
  sqlite3_busy_timeout(db_, static_cast<int>(wait.count()));
}

void SqliteConnection::set_statement_timeout(std::chrono::milliseconds limit) {
  if (limit.count() <= 0) {
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    return;
  }
  deadline_->at = std::chrono::steady_clock::now() + limit;
  sqlite3_progress_handler(db_, 1000, &Deadline::check, deadline_.get());
}

}  // namespace dexweb::platform
