// The record of worked files: a file found again (left by a crash between the commit and the
// deletion, undeletable, or copied back with the same bytes and time) gets no new rows and
// no new reports, across restarts; the record is the arbiter between two modules.
#include "intake/internal/worked_files.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <utility>

#include "data/db_object.h"
#include "data/dialect.h"
#include "data/internal/db_engine.h"
#include "data/engine_fixture.h"
#include "intake/file_holders.h"
#include "intake/intake_harness.h"
#include "support/scoped_env.h"
#include "tools/ctl_runner.h"

namespace dexweb::test {
namespace {

constexpr const char* kAgain = "The web file was worked already and is not worked again: ";

// A file as it was before it was worked, to be put back as it was.
struct SavedFile {
  explicit SavedFile(const std::string& file) : path(file), bytes(read_text(file)),
                                                time(std::filesystem::last_write_time(file)) {}
  void put_back() const {
    write_text(path, bytes);
    std::filesystem::last_write_time(path, time);
  }
  std::string path, bytes;
  std::filesystem::file_time_type time;
};

// The engine as it is, except that another module's statement commits just before the
// next transaction of this one begins: after the look-up, before the commit.
class OtherModuleFirst final : public DbEngine {
 public:
  OtherModuleFirst(std::unique_ptr<DbEngine> inner, std::function<void()> other)
      : inner_(std::move(inner)), other_(std::move(other)) {}
  std::unique_ptr<Recordset> Query(std::string_view sql, int timeout) override { return inner_->Query(sql, timeout); }
  long long Run(std::string_view sql, int timeout) override {
    if (other_ && sql.starts_with("BEGIN")) std::exchange(other_, nullptr)();
    return inner_->Run(sql, timeout);
  }
  bool HoldsTransaction() const override { return inner_->HoldsTransaction(); }
  std::string_view ErrorPrefix() const override { return inner_->ErrorPrefix(); }

 private:
  std::unique_ptr<DbEngine> inner_;
  std::function<void()> other_;
};

long long count(IntakeHarness& h, const std::string& where = "") {
  auto rs = h.db.OpenRecordset("SELECT COUNT(*) AS [n] FROM [worked_files]" + where);
  return rs->AsLong("n");
}

// A new run of the module: what the last run remembered is gone, the database stays.
void restart(IntakeHarness& h) {
  h.leftovers = LeftoverFiles{};
  h.db.CloseDb();
  h.clear_log();
}

class WorkedFileRecord : public IntakeEngineTest {};
DEXWEB_INSTANTIATE_ENGINES(WorkedFileRecord);

TEST_P(WorkedFileRecord, AFileFoundAgainAfterARestartGetsNoSecondRowButANewFileOfTheSameNameDoes) {
  IntakeHarness& h = *harness;
  h.add_user("sales");
  h.add_user("bob");
  const SavedFile saved(h.write_message("a.msg", "sales", "bob", "hi", "Pat"));
  EXPECT_TRUE(h.poll());
  const std::size_t rows = h.rows().size();
  ASSERT_GE(rows, 1u);
  EXPECT_EQ(count(h), 1);

  // As if the module died after the commit and before the deletion.
  restart(h);
  saved.put_back();
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(h.rows().size(), rows);
  EXPECT_TRUE(h.logged(kAgain + saved.path));
  EXPECT_FALSE(h.logged("Message accepted. Recipient: bob Sender: Pat"));
  EXPECT_TRUE(h.web_files().empty());

  // The same bytes written anew under the same name are a new message.
  h.write_web_file("a.msg", saved.bytes, 30);
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(h.rows().size(), 2 * rows);
  EXPECT_TRUE(h.logged("Message accepted. Recipient: bob Sender: Pat"));
  EXPECT_EQ(count(h), 2);
}

TEST_P(WorkedFileRecord, ARefusedFileIsRecordedBeforeItsReportsAndFoundAgainOnlyGetsItsMissingCopy) {
  IntakeHarness& h = *harness;
  const SavedFile saved(h.write_message("r.msg", "nobody", "", "hi", "Pat"));
  EXPECT_TRUE(h.poll());
  ASSERT_EQ(h.bad_copies().size(), 1u);
  const std::string copy = h.logs.dir() + "badmsg/" + h.bad_copies()[0];
  EXPECT_EQ(h.count_logged("Message rejected. Recipient: nobody Sender: Pat Source: " + copy), 1);
  EXPECT_EQ(count(h, " WHERE [refused] = " + h.db.SqlDialect().boolean_literal(true) + " AND [bad_copy] = '" + copy + "'"), 1);

  // Found again with its copy gone: the copy is made again under the same name, and no
  // refusal is logged or notified again.
  std::filesystem::remove(copy);
  restart(h);
  saved.put_back();
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(h.bad_copies(), std::vector<std::string>{std::filesystem::path(copy).filename()});
  EXPECT_EQ(read_text(copy), saved.bytes);
  EXPECT_TRUE(h.logged("Bad copy made: " + copy));
  EXPECT_FALSE(h.logged("Message rejected. Recipient: nobody Sender: Pat Source: " + copy));
  EXPECT_TRUE(h.rows().empty());
  EXPECT_TRUE(h.web_files().empty());

  // Found again with its copy there: nothing is made or repeated.
  restart(h);
  saved.put_back();
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(h.bad_copies().size(), 1u);
  EXPECT_FALSE(h.logged("Bad copy made: " + copy));
  EXPECT_TRUE(h.logged(kAgain + saved.path));
}

TEST_F(IntakeTest, AWorkedFileThatCannotBeDeletedIsNeverWorkedAgainUntilWrittenAnew) {
  h.add_user("sales");
  const std::string path = h.write_message("a.msg", "sales", "", "hi");
  Undeletable lock(h.web.dir(), path);
  if (!lock.ok()) GTEST_SKIP() << "no way to make a file undeletable here";
  EXPECT_TRUE(h.poll());
  EXPECT_TRUE(h.logged("Error: Unable to delete web file"));
  EXPECT_EQ(h.count_logged("The web file is not worked again while it stays as it is: " + path), 1);
  EXPECT_FALSE(h.poll());
  EXPECT_FALSE(h.poll());
  for (int run = 0; run < 2; ++run) {
    restart(h);
    EXPECT_TRUE(h.poll());
    EXPECT_TRUE(h.logged(kAgain + path));
    EXPECT_TRUE(h.logged("Error: Unable to delete web file"));
  }
  EXPECT_EQ(h.rows().size(), 1u);

  // Written anew under the same name, it is a new message.
  lock.release();
  write_text(path, "user=sales\r\nmsg=again\r\n");
  EXPECT_TRUE(h.poll());
  ASSERT_EQ(h.rows().size(), 2u);
  EXPECT_EQ(h.rows()[1].message, "again");
  EXPECT_TRUE(h.web_files().empty());
}

// Another module commits the same file while this one resolves it: the record's key lets
// only the first commit stand, and the second module drops its rows and its reports.
TEST_F(IntakeTest, TheRecordIsTheArbiterWhenAnotherModuleCommitsTheSameFileFirst) {
  h.add_user("sales");
  h.add_user("bob");
  const std::string path = h.write_message("a.msg", "sales", "bob", "hi", "Pat");
  const std::string key = FileIdentity("a.msg", *platform::stamp_entry(path), read_text(path));
  h.db.SetEngineDecoratorForTests([&](std::unique_ptr<DbEngine> engine) -> std::unique_ptr<DbEngine> {
    return std::make_unique<OtherModuleFirst>(std::move(engine), [&] {
      h.database->exec("INSERT INTO worked_files VALUES ('" + key + "', 'a.msg', 0, '', 'other 1', '2026-12-04 19:14:19')");
    });
  });
  EXPECT_TRUE(h.poll());
  EXPECT_TRUE(h.rows().empty());
  EXPECT_TRUE(h.logged(kAgain + path));
  EXPECT_FALSE(h.logged("Message accepted. Recipient: bob Sender: Pat"));
  EXPECT_TRUE(h.web_files().empty());
  EXPECT_EQ(count(h, " WHERE [worked_by] = 'other 1'"), 1);
}

TEST_F(IntakeTest, TheTableIsMadeWhereMissingAndWhereItCannotBeTheFilesAreWorkedAsBeforeWithOneWarning) {
  h.add_user("sales");
  h.database->exec("DROP TABLE worked_files");
  h.write_message("a.msg", "sales", "", "hi");
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(count(h), 1);

  const std::string warning =
      "Warning - the table worked_files is missing and could not be created: a web file found again after a crash "
      "may be worked twice";
  EXPECT_FALSE(h.logged(warning));
  restart(h);
  h.database->exec("DROP TABLE worked_files; CREATE VIEW worked_files AS SELECT 1 AS x");
  h.write_message("b.msg", "sales", "", "one");
  EXPECT_TRUE(h.poll());
  h.write_message("c.msg", "sales", "", "two");
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(h.rows().size(), 3u);
  EXPECT_EQ(h.count_logged(warning), 1);
  EXPECT_TRUE(h.web_files().empty());
}

TEST_F(IntakeTest, RecordsArePrunedAfterTheRetentionDaysAtMostOnceAnHour) {
  TempDir registry;
  write_text(registry.file("velotrax.reg"),
             registry_text("\"Worked_Files_Retention_Days\"=dword:00000002\r\n"));
  ScopedEnv env("VELOTRAX_REGISTRY", registry.file("velotrax.reg"));
  h.add_user("sales");
  auto add_record = [&](const std::string& key, const std::string& when) {
    h.database->exec("INSERT INTO worked_files VALUES ('" + key + "', 'x.msg', 0, '', 'other 1', '" + when + "')");
  };
  add_record("three-days", "2026-12-01 19:14:19");
  add_record("one-day", "2026-12-03 19:14:19");
  h.write_message("a.msg", "sales", "", "hi");
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(count(h, " WHERE [file_key] = 'three-days'"), 0);
  EXPECT_EQ(count(h), 2);

  add_record("old", "2026-11-01 00:00:00");
  h.clock.advance(std::chrono::minutes(59));
  h.write_message("b.msg", "sales", "", "hi");
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(count(h, " WHERE [file_key] = 'old'"), 1);

  h.clock.advance(std::chrono::minutes(2));
  h.write_message("c.msg", "sales", "", "hi");
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(count(h, " WHERE [file_key] = 'old'"), 0);
  EXPECT_EQ(count(h), 4);
}

// A server account without DELETE on worked_files: the prune is skipped with one warning in
// the run, without a retry's wait, and `dexwebctl check` names the missing grant.
TEST(WorkedFilesPrune, AnAccountWithoutDeleteSkipsItWithOneWarningAndCheckSaysSo) {
  auto database = make_postgresql_database();
  if (!database) GTEST_SKIP() << "DEXWEB_TEST_PG_ODBC is not set";
  {
    DBObject owner(database->settings());
    owner.Execute(worked_files_sql::create_table(owner.SqlDialect()));
  }
  const std::string role = "dexweb_no_delete_" + std::to_string(::getpid());
  database->exec("DROP ROLE IF EXISTS " + role + "; CREATE ROLE " + role + " LOGIN");
  database->exec("DO $$ BEGIN EXECUTE format('GRANT USAGE ON SCHEMA %I TO " + role + "; "
                 "GRANT SELECT, INSERT, UPDATE ON ALL TABLES IN SCHEMA %I TO " + role + "; "
                 "GRANT USAGE ON ALL SEQUENCES IN SCHEMA %I TO " + role + "', "
                 "current_schema(), current_schema(), current_schema()); END $$");
  const std::string file = database->dir() + "SqlServerConnectionString.txt";
  std::string clauses = read_text(file);
  clauses.replace(clauses.find("Uid=dexweb;"), 11, "Uid=" + role + ";");
  write_text(file, clauses);

  IntakeHarness h(std::move(database));
  h.add_user("sales");
  const std::string warning = "Warning - the database account may not delete from the table worked_files: its old "
                              "records are not pruned in this run (";
  auto warnings = [&] {
    int n = 0;
    for (const std::string& line : h.log_lines()) n += line.starts_with(warning);
    return n;
  };
  const auto start = h.clock.now();
  h.write_message("a.msg", "sales", "", "one");
  EXPECT_TRUE(h.poll());
  EXPECT_LT(h.clock.now() - start, std::chrono::seconds(1));
  EXPECT_EQ(warnings(), 1);
  h.clock.advance(std::chrono::minutes(61));
  h.write_message("b.msg", "sales", "", "two");
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(warnings(), 1);
  EXPECT_EQ(h.rows().size(), 2u);
  EXPECT_EQ(count(h), 2);

  TempDir registry;
  write_text(registry.file("velotrax.reg"), registry_text("\"DB_Dir\"=\"" + h.database->dir() + "\"\r\n"));
  std::string out;
  run_ctl({"check"}, &out, {{"VELOTRAX_REGISTRY", registry.file("velotrax.reg")}});
  EXPECT_NE(out.find("\nproblem database: the account may not DELETE FROM worked_files, so the module never prunes "
                     "it (grant it DELETE on the table)\n"),
            std::string::npos)
      << out;
}

TEST(FileIdentity, NameSizeTimeAndBytesEachMakeAnotherFile) {
  platform::FileStamp stamp;
  stamp.size = 5;
  stamp.modified = platform::TimePoint(std::chrono::nanoseconds(1700000000123456789));
  const std::string key = FileIdentity("a.msg", stamp, "hello");
  // Keys stored by earlier runs must still be found: the form never changes.
  EXPECT_EQ(key, "c27734071dab0ac7-5-1700000000123456789");
  EXPECT_NE(FileIdentity("b.msg", stamp, "hello"), key);
  EXPECT_NE(FileIdentity("a.msg", stamp, "hellp"), key);
  platform::FileStamp later = stamp;
  later.modified += std::chrono::nanoseconds(1);
  EXPECT_NE(FileIdentity("a.msg", later, "hello"), key);
  platform::FileStamp other_inode = stamp;
  other_inode.inode = 99;  // a copy put back is the same file
  EXPECT_EQ(FileIdentity("a.msg", other_inode, "hello"), key);
}

}  // namespace
}  // namespace dexweb::test
