#include "data/worked_files_sql.h"

#include "data/dialect.h"
#include "util/text.h"

namespace dexweb::worked_files_sql {
namespace {

constexpr const char* kSqliteTable =
    "CREATE TABLE IF NOT EXISTS [worked_files] (\r\n"
    "  [file_key]  VARCHAR(64) NOT NULL PRIMARY KEY,\r\n"
    "  [name]      VARCHAR(255) NOT NULL,\r\n"
    "  [refused]   BOOLEAN NOT NULL DEFAULT 0,\r\n"
    "  [bad_copy]  VARCHAR(1024) NOT NULL DEFAULT '',\r\n"
    "  [worked_by] VARCHAR(80) NOT NULL DEFAULT '',\r\n"
    "  [worked_at] DATETIME NOT NULL,\r\n"
    "  [rows]      INTEGER NOT NULL DEFAULT 0,\r\n"
    "  [copy_made] BOOLEAN NOT NULL DEFAULT 0,\r\n"
    "  [notified]  BOOLEAN NOT NULL DEFAULT 0\r\n"
    ")";

constexpr const char* kPostgreSqlTable =
    "CREATE TABLE IF NOT EXISTS [worked_files] (\r\n"
    "  [file_key]  VARCHAR(64) NOT NULL PRIMARY KEY,\r\n"
    "  [name]      VARCHAR(255) NOT NULL,\r\n"
    "  [refused]   BOOLEAN NOT NULL DEFAULT FALSE,\r\n"
    "  [bad_copy]  VARCHAR(1024) NOT NULL DEFAULT '',\r\n"
    "  [worked_by] VARCHAR(80) NOT NULL DEFAULT '',\r\n"
    "  [worked_at] TIMESTAMP(0) NOT NULL,\r\n"
    "  [rows]      INTEGER NOT NULL DEFAULT 0,\r\n"
    "  [copy_made] BOOLEAN NOT NULL DEFAULT FALSE,\r\n"
    "  [notified]  BOOLEAN NOT NULL DEFAULT FALSE\r\n"
    ")";

constexpr const char* kSqlServerTable =
    "IF OBJECT_ID(N'[worked_files]', N'U') IS NULL\r\n"
    "CREATE TABLE [worked_files] (\r\n"
    "  [file_key]  NVARCHAR(64) NOT NULL PRIMARY KEY,\r\n"
    "  [name]      NVARCHAR(255) NOT NULL,\r\n"
    "  [refused]   BIT NOT NULL DEFAULT 0,\r\n"
    "  [bad_copy]  NVARCHAR(1024) NOT NULL DEFAULT '',\r\n"
    "  [worked_by] NVARCHAR(80) NOT NULL DEFAULT '',\r\n"
    "  [worked_at] DATETIME2(0) NOT NULL,\r\n"
    "  [rows]      INT NOT NULL DEFAULT 0,\r\n"
    "  [copy_made] BIT NOT NULL DEFAULT 0,\r\n"
    "  [notified]  BIT NOT NULL DEFAULT 0\r\n"
    ")";

}  // namespace

std::string create_table(const Dialect& dialect) {
  switch (dialect.kind()) {
    case DatabaseKind::SqlServer: return kSqlServerTable;
    case DatabaseKind::PostgreSql: return kPostgreSqlTable;
    default: return kSqliteTable;
  }
}

std::string exists_query(const Dialect& dialect) {
  switch (dialect.kind()) {
    case DatabaseKind::SqlServer:
      return "SELECT CASE WHEN OBJECT_ID(N'[worked_files]', N'U') IS NULL THEN 0 ELSE 1 END AS [found]";
    case DatabaseKind::PostgreSql:
      return "SELECT CASE WHEN to_regclass('worked_files') IS NULL THEN 0 ELSE 1 END AS [found]";
    default:
      return "SELECT COUNT(*) AS [found] FROM [sqlite_master] WHERE [type] = 'table' AND [name] = 'worked_files'";
  }
}

SqlStatement lookup(const Dialect& dialect, std::string_view file_key) {
  // The dialect writes "top 1" around the text, so the key's place is known only after it.
  SqlStatement out(dialect.select_top1(
      "[refused], [bad_copy], [worked_by], [copy_made], [notified] FROM [worked_files] WHERE [file_key] = ?"));
  out.slots.push_back(out.text.find('?'));
  out.values.emplace_back(text::left(std::string(file_key), 64));
  return out;
}

SqlStatement insert(const Dialect& dialect, const WorkedFileRow& row) {
  SqlStatement out(
      "INSERT INTO [worked_files] ([file_key], [name], [refused], [bad_copy], [worked_by], [worked_at], [rows], "
      "[copy_made], [notified]) VALUES (");
  out.bind(text::left(row.file_key, 64));
  out.text += ", ";
  out.bind(text::left(row.name, kWorkedNameLimit));
  out.text += ", " + dialect.boolean_literal(row.refused) + ", ";
  out.bind(text::left(row.bad_copy, kWorkedPathLimit));
  out.text += ", ";
  out.bind(text::left(row.worked_by, kWorkedByLimit));
  out.text += "," + dialect.now_expression() + ", " + std::to_string(row.rows) + ", " +
              dialect.boolean_literal(row.copy_made) + ", " + dialect.boolean_literal(row.notified) + ")";
  return out;
}

SqlStatement copy_made(const Dialect& dialect, std::string_view file_key, std::string_view bad_copy) {
  SqlStatement out("UPDATE [worked_files] SET [copy_made] = " + dialect.boolean_literal(true) + ", [bad_copy] = ");
  out.bind(text::left(std::string(bad_copy), kWorkedPathLimit));
  out.text += " WHERE [file_key] = ";
  out.bind(text::left(std::string(file_key), 64));
  return out;
}

SqlStatement notified(const Dialect& dialect, std::string_view file_key) {
  SqlStatement out("UPDATE [worked_files] SET [notified] = " + dialect.boolean_literal(true) + " WHERE [file_key] = ");
  out.bind(text::left(std::string(file_key), 64));
  return out;
}

std::string older_than(const Dialect& dialect, DateTime cutoff) {
  return "SELECT [file_key], [name] FROM [worked_files] WHERE [worked_at] < " + dialect.date_literal(cutoff);
}

SqlStatement keep(const Dialect& dialect, std::string_view file_key) {
  SqlStatement out("UPDATE [worked_files] SET [worked_at] =" + dialect.now_expression() + " WHERE [file_key] = ");
  out.bind(text::left(std::string(file_key), 64));
  return out;
}

std::string prune(const Dialect& dialect, DateTime cutoff) {
  return "DELETE FROM [worked_files] WHERE [worked_at] < " + dialect.date_literal(cutoff);
}

}  // namespace dexweb::worked_files_sql
