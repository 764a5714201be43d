#include "data/schema_setup.h"

#include "data/db_object.h"
#include "data/internal/db_errors.h"
#include "platform/files.h"
#include "platform/sqlite_db.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {

std::string schema_file_name(DatabaseKind kind) {
  switch (kind) {
    case DatabaseKind::SqlServer: return "sqlserver.sql";
    case DatabaseKind::PostgreSql: return "postgresql.sql";
    default: return "sqlite.sql";
  }
}

void create_embedded_database_file(const std::string& path) {
  if (platform::stat_path(path))
    throw RuntimeError(err::kFileAlreadyExists, "The database exists already: " + path, "DBObject");
  try {
    auto db = platform::SqliteConnection::open(path, true);
    db.exec("PRAGMA journal_mode=WAL");
  } catch (const platform::SqliteError& e) {
    throw RuntimeError(sqlite_error_number(e.code(), e.extended_code()), e.message() + ": " + path, "DBObject");
  }
}

std::vector<std::string> script_batches(std::string_view script) {
  std::vector<std::string> batches(1);
  while (!script.empty()) {
    const std::size_t end = std::min(script.find('\n'), script.size());
    const std::string_view line = script.substr(0, end);
    if (text::iequals(text::trim_chars(line, " \t\r"), "GO")) batches.emplace_back();
    else batches.back().append(line).append("\n");
    script.remove_prefix(std::min(end + 1, script.size()));
  }
  return batches;
}

void create_schema(DBObject& db, const std::string& script) {
  for (const std::string& batch : script_batches(script)) db.Execute(batch, {.timeout = db.Settings().long_timeout});
}

}  // namespace dexweb
