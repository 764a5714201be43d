#include "data/db_object.h"

#include <cctype>
#include <utility>

#include "data/dialect.h"
#include "data/internal/db_errors.h"
#include "data/internal/odbc_engine.h"
#include "data/internal/sqlite_engine.h"
#include "logging/log_event.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "util/datetime.h"
#include "util/nvp_list.h"
#include "util/random.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {

// Opening and closing the database. The operations with their retries are in
// db_operations.cpp.
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
  throw DatabaseFileMissing(err::kDbFileNotFound, "unable to open database file: " + opened_path_ + " is missing",
                            "SQLite");
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

DatabaseSettings database_settings(const RegistrySettings& registry) {
  DatabaseSettings s;
  s.db_dir = registry.DB_Dir;
  s.short_timeout = registry.DB_Short_Timeout;
  s.medium_timeout = registry.DB_Medium_Timeout;
  s.long_timeout = registry.DB_Long_Timeout;
  s.retries = registry.DB_Retries;
  s.short_timeout_set = registry.DB_Short_Timeout_Set;
  s.medium_timeout_set = registry.DB_Medium_Timeout_Set;
  s.long_timeout_set = registry.DB_Long_Timeout_Set;
  s.retries_set = registry.DB_Retries_Set;
  return s;
}

namespace {

constexpr const char* kCrLf = "\r\n";

// The number that the value's leading digits form, rounded to a whole number; 0 when the
// value does not start with one or the number is outside the 32-bit range.
int leading_number(std::string_view value) {
  std::string s = text::ltrim(value);
  std::size_t end = 0;
  if (end < s.size() && (s[end] == '+' || s[end] == '-')) ++end;
  while (end < s.size() && (std::isdigit(static_cast<unsigned char>(s[end])) || s[end] == '.')) ++end;
  auto n = text::parse_number(s.substr(0, end));
  return n && *n >= -2147483648.5 && *n < 2147483647.5 ? static_cast<int>(text::round_half_even(*n)) : 0;
}

// Removes the entry and returns its value with every ";" deleted; nullopt when absent.
std::optional<std::string> take(NVPList& list, std::string_view name) {
  int index = list.GetIndexByName(name);
  if (index == 0) return std::nullopt;
  std::string value = text::replace_all(to_text(list.GetValueByIndex(index)), ";", "");
  list.RemoveByIndex(index);
  return value;
}

void apply_setting(NVPList& list, std::string_view name, bool set_in_registry, int& setting) {
  if (auto value = take(list, name); value && !set_in_registry) setting = leading_number(*value);
}

void apply_credential(NVPList& list, std::string_view name, std::string_view clause) {
  if (auto value = take(list, name)) list.Add(clause, decode_db_password(*value) + ";");
}

void drop_comments(NVPList& list) {
  for (int i = 1; i <= list.Count();) {
    if (list.GetNameByIndex(i).starts_with("#")) list.RemoveByIndex(i);
    else ++i;
  }
}

std::string driver_clauses(const NVPList& list) {
  std::string out;
  for (int i = 1; i <= list.Count(); ++i) {
    std::string clause = list.GetNameByIndex(i) + "=" + to_text(list.GetValueByIndex(i));
    if (!clause.ends_with(";")) clause += ";";
    out += clause;
  }
  return out;
}

}  // namespace

std::string isolation_level_for(std::string_view value) {
  static constexpr const char* kLevels[] = {"READ UNCOMMITTED", "READ COMMITTED", "REPEATABLE READ",
                                            "SNAPSHOT", "SERIALIZABLE"};
  std::string upper = text::to_upper(value);
  for (const char* level : kLevels)
    if (upper == level) return level;
  return "READ COMMITTED";
}

ServerConnection read_connection_file(const std::string& path, DatabaseSettings& settings) {
  std::string content = text::replace_all(text::decode_bytes(platform::read_file(path)), "\r\n", "\n");
  content = text::replace_all(content, "\n", kCrLf);
  NVPList list;
  list.SetCaseSensitive(false);
  list.LoadFromString(content, kCrLf, "=");
  drop_comments(list);

  auto isolation = take(list, "vtsqlisolation");
  DatabaseSettings& s = settings;
  s.isolation_level = isolation_level_for(isolation.value_or(""));
  apply_setting(list, "vtdbshorttimeout", s.short_timeout_set, s.short_timeout);
  apply_setting(list, "vtdbmediumtimeout", s.medium_timeout_set, s.medium_timeout);
  apply_setting(list, "vtdblongtimeout", s.long_timeout_set, s.long_timeout);
  apply_setting(list, "vtdbretries", s.retries_set, s.retries);
  apply_credential(list, "vtencrypteduid", "UID");
  apply_credential(list, "vtencryptedpwd", "PWD");

  return {list.AsString(kCrLf, "=", ""), driver_clauses(list)};
}

Recordset::Recordset(std::vector<std::string> names, std::vector<Row> rows)
    : names_(std::move(names)), rows_(std::move(rows)) {}

void Recordset::MoveNext() {
  if (Eof()) throw RuntimeError(err::kDbNoCurrentRecord, "No current record.", "Recordset");
  ++position_;
}

int Recordset::index_of(std::string_view name) const {
  for (std::size_t i = 0; i < names_.size(); ++i)
    if (text::iequals(names_[i], name)) return static_cast<int>(i);
  throw RuntimeError(err::kDbItemNotFound, "Item not found in this collection: " + std::string(name),
                     "Recordset");
}

const Variant& Recordset::Field(std::string_view name) const {
  int i = index_of(name);
  if (Eof()) throw RuntimeError(err::kDbNoCurrentRecord, "No current record.", "Recordset");
  return rows_[position_][static_cast<std::size_t>(i)];
}

std::string Recordset::AsText(std::string_view name) const {
  const Variant& v = Field(name);
  return is_null(v) ? std::string() : to_text(v);
}

bool flag_from_text(std::string_view text) {
  std::string t = text::to_lower(text::trim(text));
  if (t == "true" || t == "t" || t == "yes" || t == "y") return true;
  if (t == "false" || t == "f" || t == "no" || t == "n") return false;
  auto n = text::parse_number(t);
  if (!n) throw RuntimeError(err::kTypeMismatch, "Type mismatch", "Recordset");
  return *n != 0;
}

bool Recordset::AsBool(std::string_view name) const {
  const Variant& v = Field(name);
  if (auto* s = std::get_if<std::string>(&v)) return flag_from_text(*s);
  return to_bool(v);
}

std::int32_t Recordset::AsLong(std::string_view name) const { return to_long(Field(name)); }
DateTime Recordset::AsDate(std::string_view name) const { return to_date(Field(name)); }

void Recordset::Close() {
  rows_.clear();
  position_ = 0;
}

}  // namespace dexweb
