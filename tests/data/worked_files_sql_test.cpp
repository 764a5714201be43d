// The record of worked files in each engine's SQL: SQL Server's text exactly as sent.
#include "data/worked_files_sql.h"

#include <gtest/gtest.h>

#include "data/dialect.h"

namespace dexweb {
namespace {

const WorkedFileRow kRow{"0123456789abcdef-12-1700000000123456789", "it's.msg", true, "/var/log/velotrax/badmsg/x.web",
                         "gateway-1 00c0ffee"};

TEST(WorkedFilesSql, SqlServerTextsAsSent) {
  const Dialect& d = dialect_for(DatabaseKind::SqlServer);
  EXPECT_EQ(inline_values(worked_files_sql::insert(d, kRow)),
            "INSERT INTO [worked_files] ([file_key], [name], [refused], [bad_copy], [worked_by], [worked_at]) VALUES "
            "('0123456789abcdef-12-1700000000123456789', 'it''s.msg', 1, '/var/log/velotrax/badmsg/x.web', "
            "'gateway-1 00c0ffee', GetDate() )");
  EXPECT_EQ(inline_values(worked_files_sql::lookup(d, "k'1")),
            "SELECT TOP 1 [refused], [bad_copy], [worked_by] FROM [worked_files] WHERE [file_key] = 'k''1'");
  EXPECT_EQ(worked_files_sql::prune(d, make_datetime(2026, 12, 4, 19, 14, 19)),
            "DELETE FROM [worked_files] WHERE [worked_at] < '2026-12-04T19:14:19'");
  EXPECT_EQ(worked_files_sql::exists_query(d),
            "SELECT CASE WHEN OBJECT_ID(N'[worked_files]', N'U') IS NULL THEN 0 ELSE 1 END AS [found]");
  EXPECT_TRUE(worked_files_sql::create_table(d).starts_with(
      "IF OBJECT_ID(N'[worked_files]', N'U') IS NULL\r\nCREATE TABLE [worked_files] (\r\n"
      "  [file_key]  NVARCHAR(64) NOT NULL PRIMARY KEY,"));
}

TEST(WorkedFilesSql, PostgreSqlTextsAsSentAndLongValuesCut) {
  const Dialect& d = dialect_for(DatabaseKind::PostgreSql);
  WorkedFileRow row = kRow;
  row.refused = false;
  row.bad_copy.clear();
  row.name = std::string(300, 'n');
  EXPECT_EQ(d.to_engine(inline_values(worked_files_sql::insert(d, row))),
            "INSERT INTO \"worked_files\" (\"file_key\", \"name\", \"refused\", \"bad_copy\", \"worked_by\", "
            "\"worked_at\") VALUES ('0123456789abcdef-12-1700000000123456789', '" +
                std::string(255, 'n') + "', FALSE, '', 'gateway-1 00c0ffee', LOCALTIMESTAMP )");
  EXPECT_EQ(d.to_engine(inline_values(worked_files_sql::lookup(d, "k"))),
            "SELECT \"refused\", \"bad_copy\", \"worked_by\" FROM \"worked_files\" WHERE \"file_key\" = 'k' LIMIT 1");
}

}  // namespace
}  // namespace dexweb
