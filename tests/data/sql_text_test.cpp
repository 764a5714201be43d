// The statements each dialect writes, as exact text (the SQL Server ones cannot run here).
#include <gtest/gtest.h>

#include "data/dialect.h"
#include "data/internal/bulk_batches.h"
#include "data/sql_text.h"
#include "data/worked_files_sql.h"
#include "logging/reporter.h"

namespace dexweb {
namespace {

class SqlText : public ::testing::Test {
 protected:
  void SetUp() override { reset_process_state(); }
  void use(DatabaseKind kind) { dialect_ = &dialect_for(kind); }
  const Dialect& dialect() const { return *dialect_; }

 private:
  const Dialect* dialect_ = &dialect_for(DatabaseKind::Embedded);
};

TEST_F(SqlText, InsertBreaksTheLineAfterTheFourthField) {
  use(DatabaseKind::SqlServer);
  QueryObject q;
  q.SetQueryType(QueryObject::kInsert);
  q.SetTableName("messages");
  q.Add("user", std::string("it's"));
  q.Add("sent", true);
  q.Add("station", std::int16_t{4});
  q.Add("last_try", make_datetime(2009, 3, 7, 14, 5, 9));
  q.Add("date_time_sent", db_now(dialect()), 1);
  EXPECT_EQ(q.Build(dialect()),
            "INSERT INTO [messages] (\r\n"
            "[user], [sent], [station], [last_try], \r\n"
            "[date_time_sent])\r\n"
            "VALUES (\r\n"
            " 'it''s' , 1, 4, '2009-03-07T14:05:09', \r\n"
            " GetDate() )\r\n");
}

TEST_F(SqlText, UpdateWithoutConditionHasNoWhereLine) {
  use(DatabaseKind::SqlServer);
  QueryObject q;
  EXPECT_EQ(q.Build(dialect(), QueryObject::kUpdate, "control", {std::string("dexweb_state"), false}),
            "UPDATE [control]\r\nSET\r\n[dexweb_state] = 0\r\n");
  q.SetWhereClause("[record_id] =" + sql_number(7));
  EXPECT_EQ(q.Build(dialect()), "UPDATE [control]\r\nSET\r\n[dexweb_state] = 0\r\nWHERE ([record_id] = 7 )");
}

// The quoted string, the date, the server's time and the number of a SQL Server text are
// pinned by the INSERT and UPDATE texts above; these are the literals they do not show.
TEST_F(SqlText, LiteralsByKind) {
  use(DatabaseKind::SqlServer);
  EXPECT_EQ(sql_string(std::string()), " '' ");
  EXPECT_EQ(sql_date(dialect(), std::string("2009-03-07 14:05:09")), "'2009-03-07T14:05:09'");
  use(DatabaseKind::Embedded);
  // A value that is no date stands for the current server-adjusted time.
  EXPECT_EQ(sql_date(dialect(), std::string("soon")), db_now(dialect()).substr(1, 21));
}

TEST_F(SqlText, BooleansAndColumnReferencesByKind) {
  const std::vector<std::pair<DatabaseKind, std::string>> expected = {
      {DatabaseKind::SqlServer, "[a] = 1, [b] = 0, [c] = [d]"},
      {DatabaseKind::PostgreSql, "[a] = TRUE, [b] = FALSE, [c] = [d]"},
      {DatabaseKind::Embedded, "[a] = True, [b] = False, [c] = [d]"}};
  for (const auto& [kind, text] : expected) {
    use(kind);
    QueryObject q;
    q.Build(dialect(), QueryObject::kUpdate, "t", {std::string("a"), true, std::string("b"), false});
    q.Add("c", std::string("d"), 36);
    EXPECT_EQ(q.Build(dialect()), "UPDATE [t]\r\nSET\r\n" + text + "\r\n");
  }
}

// Bound values written back in give exactly the text Build writes, on every dialect: what
// the embedded engine binds is what a server and the log get as literals.
TEST_F(SqlText, BoundValuesWrittenInGiveTheBuiltText) {
  for (DatabaseKind kind : {DatabaseKind::Embedded, DatabaseKind::SqlServer, DatabaseKind::PostgreSql}) {
    use(kind);
    QueryObject q;
    q.SetQueryType(QueryObject::kInsert);
    q.SetTableName("messages");
    q.Add("user", std::string("o'brien ? [x] 'q'"));
    q.Add("message", std::string("Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac"));
    q.Add("pin", std::string(""));
    q.Add("station", std::int16_t{-4});
    q.Add("transaction", std::int32_t{2000000000});
    q.Add("sent", false);
    q.Add("last_try", make_datetime(2009, 3, 7, 14, 5, 9));
    q.Add("date_time_sent", db_now(dialect()), 1);
    q.Add("server", Null{});
    q.Add("frm", std::int32_t{7}, vt::kString);
    const SqlStatement bound = q.BuildBound(dialect());
    EXPECT_EQ(inline_values(bound), q.Build(dialect()));
    EXPECT_EQ(bound.values.size(), 6u);
  }
}

TEST_F(SqlText, DialectStatements) {
  const Dialect& mssql = dialect_for(DatabaseKind::SqlServer);
  const Dialect& pg = dialect_for(DatabaseKind::PostgreSql);
  // A message's id is drawn in the transaction of its rows.
  EXPECT_EQ(mssql.counter_advance(1),
            "UPDATE [counters] SET [unique_id] = [unique_id] % 2000000000 + 1 WHERE ([record_id] = 1 )");
  EXPECT_EQ(mssql.counter_value(1), "COALESCE((SELECT [unique_id] FROM [counters] WHERE ([record_id] = 1 )), 0)");
  EXPECT_EQ(mssql.isolation_statement("SNAPSHOT"), "SET TRANSACTION ISOLATION LEVEL SNAPSHOT");
  // PostgreSQL has no snapshot level: it gets the nearest one.
  EXPECT_EQ(pg.isolation_statement("SNAPSHOT"),
            "SET SESSION CHARACTERISTICS AS TRANSACTION ISOLATION LEVEL REPEATABLE READ");
}

TEST_F(SqlText, PostgreSqlQuotesBracketedNamesOutsideLiterals) {
  const Dialect& pg = dialect_for(DatabaseKind::PostgreSql);
  EXPECT_EQ(pg.to_engine("SELECT [user], [a\"b] FROM [users] WHERE [x] = ' [y] it''s [z] ' AND \"[q]\" = 1"),
            "SELECT \"user\", \"a\"\"b\" FROM \"users\" WHERE \"x\" = ' [y] it''s [z] ' AND \"[q]\" = 1");
  EXPECT_EQ(dialect_for(DatabaseKind::SqlServer).to_engine("SELECT [a]"), "SELECT [a]");
}

TEST_F(SqlText, TransactionalBatchOnSqlServer) {
  NVPList list;
  list.Add("DELETE FROM [a]  ");
  list.Add("DELETE FROM [b];");
  list.Add("DELETE FROM [c]\t");
  auto batches = batch_statements(dialect_for(DatabaseKind::SqlServer), list, true);
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(batches[0].statement.text,
            "SET NOCOUNT ON; \r\nSET XACT_ABORT ON; \r\nBEGIN TRANSACTION;\r\n"
            "DELETE FROM [a];\r\nDELETE FROM [b];\r\nDELETE FROM [c];\r\n"
            "COMMIT TRANSACTION;\r\n");
  EXPECT_EQ(batches[0].statements, 4);
  EXPECT_EQ(list.Count(), 4);
}

TEST_F(SqlText, BatchesCloseAfterTenThousandCharacters) {
  NVPList list;
  const std::string statement = "INSERT INTO [t] VALUES ('" + std::string(990, 'x') + "')";
  for (int i = 0; i < 25; ++i) list.Add(statement);
  auto batches = batch_statements(dialect_for(DatabaseKind::SqlServer), list, false);
  ASSERT_EQ(batches.size(), 3u);
  EXPECT_EQ(batches[0].statements, 10);
  EXPECT_EQ(batches[1].statements, 10);
  EXPECT_EQ(batches[2].statements, 5);

  // Values bound beside the text: SQL Server takes no more than 2100 in one batch.
  SqlStatement bound("INSERT INTO [t] VALUES (");
  for (int i = 0; i < 100; ++i) {
    bound.bind(std::string(i == 0 ? "it's" : "v"));
    bound.text += i < 99 ? ", " : ")  ";
  }
  const std::vector<SqlStatement> statements(25, bound);
  auto bound_batches = batch_statements(dialect_for(DatabaseKind::SqlServer), statements, true);
  ASSERT_EQ(bound_batches.size(), 2u);
  EXPECT_EQ(bound_batches[0].statements, 20);
  EXPECT_EQ(bound_batches[0].statement.values.size(), 2000u);
  EXPECT_EQ(bound_batches[1].statements, 6);
  const std::string first = inline_values(bound_batches[0].statement);
  EXPECT_TRUE(first.starts_with("SET NOCOUNT ON; \r\nSET XACT_ABORT ON; \r\nBEGIN TRANSACTION;\r\n"
                                "INSERT INTO [t] VALUES ('it''s', 'v', ")) << first;
  EXPECT_TRUE(inline_values(bound_batches[1].statement).ends_with("'v');\r\nCOMMIT TRANSACTION;\r\n"));
}

// The record of worked files; the other engines run theirs in the intake's tests.
const WorkedFileRow kRow{"20261204191419-00000000c0ffee00-7", "it's.msg", true, "/var/log/velotrax/badmsg/x.web",
                         "gateway-1 00c0ffee", 2, true, false};

TEST(WorkedFilesSql, SqlServerTextsAsSent) {
  const Dialect& d = dialect_for(DatabaseKind::SqlServer);
  EXPECT_EQ(inline_values(worked_files_sql::insert(d, kRow)),
            "INSERT INTO [worked_files] ([file_key], [name], [refused], [bad_copy], [worked_by], [worked_at], [rows], "
            "[copy_made], [notified]) VALUES ('20261204191419-00000000c0ffee00-7', 'it''s.msg', 1, "
            "'/var/log/velotrax/badmsg/x.web', 'gateway-1 00c0ffee', GetDate() , 2, 1, 0)");
  EXPECT_EQ(inline_values(worked_files_sql::lookup(d, "k'1")),
            "SELECT TOP 1 [refused], [bad_copy], [worked_by], [copy_made], [notified] FROM [worked_files] WHERE "
            "[file_key] = 'k''1'");
  EXPECT_EQ(inline_values(worked_files_sql::copy_made(d, "k", "/b/y.web")),
            "UPDATE [worked_files] SET [copy_made] = 1, [bad_copy] = '/b/y.web' WHERE [file_key] = 'k'");
  EXPECT_EQ(inline_values(worked_files_sql::notified(d, "k")),
            "UPDATE [worked_files] SET [notified] = 1 WHERE [file_key] = 'k'");
  EXPECT_EQ(inline_values(worked_files_sql::keep(d, "k")),
            "UPDATE [worked_files] SET [worked_at] = GetDate()  WHERE [file_key] = 'k'");
  EXPECT_EQ(worked_files_sql::older_than(d, make_datetime(2026, 12, 4, 19, 14, 19)),
            "SELECT [file_key], [name] FROM [worked_files] WHERE [worked_at] < '2026-12-04T19:14:19'");
  EXPECT_EQ(worked_files_sql::prune(d, make_datetime(2026, 12, 4, 19, 14, 19)),
            "DELETE FROM [worked_files] WHERE [worked_at] < '2026-12-04T19:14:19'");
  EXPECT_EQ(worked_files_sql::exists_query(d),
            "SELECT CASE WHEN OBJECT_ID(N'[worked_files]', N'U') IS NULL THEN 0 ELSE 1 END AS [found]");
  EXPECT_TRUE(worked_files_sql::create_table(d).starts_with(
      "IF OBJECT_ID(N'[worked_files]', N'U') IS NULL\r\nCREATE TABLE [worked_files] (\r\n"
      "  [file_key]  NVARCHAR(64) NOT NULL PRIMARY KEY,"));
  // A name longer than its column is cut, so the record can still be written.
  WorkedFileRow long_name = kRow;
  long_name.name = std::string(300, 'n');
  EXPECT_NE(inline_values(worked_files_sql::insert(d, long_name)).find(", '" + std::string(255, 'n') + "', 1,"),
            std::string::npos);
}

}  // namespace
}  // namespace dexweb
