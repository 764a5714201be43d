// The record of worked files: a claimed file found after a crash is finished from what its
// record says is done (no second row; the missing copy and reports made), a file worked in
// place (it could not be claimed) is known by its identity across restarts and is the
// arbiter between two modules, and a file sent again is a new message.
#include "intake/internal/worked_files.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "data/db_object.h"
#include "data/dialect.h"
#include "data/engine_fixture.h"
#include "data/fault_engine.h"
#include "intake/file_holders.h"
#include "intake/intake_harness.h"
#include "support/ctl_runner.h"
#include "support/scoped_env.h"

namespace dexweb::test {
namespace {

constexpr const char* kAgain = "The web file was worked already and is not worked again: ";
constexpr const char* kDead = "20261204191419-00000000000000aa";

long long count(IntakeHarness& h, const std::string& where = "") {
  auto rs = h.db.OpenRecordset("SELECT COUNT(*) AS [n] FROM [worked_files]" + where);
  return rs->AsLong("n");
}

// Another module's record, written in the engine's own SQL on a connection of its own.
void add_record(IntakeHarness& h, const std::string& key, const std::string& name, const std::string& when,
                bool refused = false, const std::string& copy = "", bool notified = true) {
  h.db.OpenDb(1);
  const Dialect& d = h.db.SqlDialect();
  h.database->exec(d.to_engine(
      "INSERT INTO [worked_files] ([file_key], [name], [refused], [bad_copy], [copy_made], [notified], [worked_by], "
      "[worked_at]) VALUES ('" + key + "', '" + name + "', " + d.boolean_literal(refused) + ", '" + copy + "', " +
      d.boolean_literal(false) + ", " + d.boolean_literal(notified) + ", 'other 1', '" + when + "')"));
}

// The claim folder of a run that was killed: its lock free, its claimed files still there.
std::string dead_claim_folder(IntakeHarness& h) {
  const std::string folder = h.web.file(std::string(".dexweb/") + kDead + "/");
  std::filesystem::create_directories(folder);
  write_text(folder + "lock", "");
  return folder;
}

class WorkedFileRecord : public IntakeEngineTest {};
DEXWEB_INSTANTIATE_ENGINES(WorkedFileRecord);

TEST_P(WorkedFileRecord, AKilledRunsClaimsAreFinishedWithoutSecondRowsAndAFileSentAgainIsANewMessage) {
  IntakeHarness& h = *harness;
  h.add_user("sales");
  h.add_user("bob");
  const std::string dead = dead_claim_folder(h);
  // Killed after the commit of 1-a.msg and before its deletion; 2-b.msg was claimed only.
  write_text(dead + "1-a.msg", "user=sales\r\nfrm=Pat\r\nsubject=bob\r\nmsg=hi\r\n");
  write_text(dead + "2-b.msg", "user=sales\r\nfrm=Pat\r\nmsg=second\r\n");
  add_record(h, std::string(kDead) + "-1", "a.msg", "2026-12-04 19:14:19");
  EXPECT_TRUE(h.poll());
  EXPECT_TRUE(h.logged(kAgain + h.web.file("a.msg")));
  EXPECT_FALSE(h.logged("Message accepted. Recipient: bob Sender: Pat"));
  ASSERT_EQ(h.rows().size(), 1u);
  EXPECT_EQ(h.rows()[0].message, "second");
  EXPECT_TRUE(h.logged("Working on message: b.msg"));
  EXPECT_EQ(count(h, " WHERE [name] = 'b.msg' AND [rows] = 1"), 1);
  EXPECT_FALSE(h.poll());
  EXPECT_TRUE(h.claimed_files().empty());
  EXPECT_FALSE(std::filesystem::exists(dead));

  // The same alert sent three times, bytes and time kept (cp -p): three messages.
  const std::string path = h.write_message("alert.msg", "sales", "", "disk full");
  const auto time = std::filesystem::last_write_time(path);
  for (int i = 0; i < 3; ++i) {
    h.write_message("alert.msg", "sales", "", "disk full");
    std::filesystem::last_write_time(path, time);
    EXPECT_TRUE(h.poll());
  }
  EXPECT_EQ(h.rows().size(), 4u);
}

TEST_P(WorkedFileRecord, ARefusedClaimGetsItsMissingCopyAndItsReportsOnceMore) {
  IntakeHarness& h = *harness;
  const std::string dead = dead_claim_folder(h);
  const std::string bytes = "user=nobody\r\nfrm=Pat\r\nmsg=hi\r\n";
  write_text(dead + "1-r.msg", bytes);
  const std::string copy = h.logs.dir() + "badmsg/VTXWeb2026120419141977.web";
  // The copy could not be made, and the run ended before the refusal was notified.
  add_record(h, std::string(kDead) + "-1", "r.msg", "2026-12-04 19:14:19", true, copy, false);
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(read_text(copy), bytes);
  EXPECT_TRUE(h.logged("Bad copy made: " + copy));
  EXPECT_EQ(h.count_logged("Message rejected. Recipient: nobody Sender: Pat Source: " + copy), 1);
  EXPECT_EQ(count(h, " WHERE [copy_made] = " + h.db.SqlDialect().boolean_literal(true) +
                         " AND [notified] = " + h.db.SqlDialect().boolean_literal(true)), 1);
  EXPECT_TRUE(h.rows().empty());
  EXPECT_TRUE(h.claimed_files().empty());
}

// Immutable, the file can neither be claimed nor deleted: it is worked in place, known by its
// identity, and never worked again, however old its record grows.
TEST_F(IntakeTest, AFileThatCannotBeClaimedOrDeletedIsNeverWorkedAgainUntilWrittenAnew) {
  h.registry.Worked_Files_Retention_Days = "2";
  h.add_user("sales");
  const std::string path = h.write_message("a.msg", "sales", "", "hi");
  Undeletable lock(h.web.dir(), path);
  if (!lock.ok()) GTEST_SKIP() << "no way to make a file undeletable here";
  EXPECT_TRUE(h.poll());
  EXPECT_TRUE(h.logged("Error: Unable to delete web file"));
  EXPECT_EQ(h.count_logged("The web file is not worked again while it stays as it is: " + path), 1);
  EXPECT_FALSE(h.poll());
  for (int run = 0; run < 2; ++run) {
    h.database->exec("UPDATE worked_files SET worked_at = '2026-11-01 00:00:00'");
    h.clock.advance(std::chrono::hours(2));
    h.restart();
    EXPECT_TRUE(h.poll());
    EXPECT_TRUE(h.logged(kAgain + path));
    EXPECT_TRUE(h.logged("Error: Unable to delete web file"));
  }
  EXPECT_EQ(h.rows().size(), 1u);
  EXPECT_EQ(count(h), 1);

  // Written anew under the same name, it is a new message.
  lock.release();
  write_text(path, "user=sales\r\nmsg=again\r\n");
  EXPECT_TRUE(h.poll());
  ASSERT_EQ(h.rows().size(), 2u);
  EXPECT_EQ(h.rows()[1].message, "again");
  EXPECT_TRUE(h.web_files().empty());
}

// Where files cannot be claimed (here: no claim folder can be made), another module may
// commit the same file while this one resolves it: the record's key lets only the first
// commit stand, and the second module drops its rows, its reports and its id.
TEST_P(WorkedFileRecord, InPlaceTheRecordIsTheArbiterWhenAnotherModuleCommitsTheSameFileFirst) {
  IntakeHarness& h = *harness;
  h.add_user("sales");
  h.add_user("bob");
  write_text(h.web.file(".dexweb"), "");
  const std::string path = h.write_message("a.msg", "sales", "bob", "hi", "Pat");
  const std::string key = FileIdentity("a.msg", *platform::stamp_entry(path), read_text(path));
  run_before_next_begin(h.db, [&] { add_record(h, key, "a.msg", "2026-12-04 19:14:19"); });
  EXPECT_TRUE(h.poll());
  EXPECT_TRUE(h.logged("Web files cannot be claimed here and are worked in the watched folder itself: "
                       "Not a directory: open folder " + h.web.file(".dexweb")));
  EXPECT_TRUE(h.rows().empty());
  EXPECT_TRUE(h.logged(kAgain + path));
  EXPECT_FALSE(h.logged("Message accepted. Recipient: bob Sender: Pat"));
  EXPECT_TRUE(h.web_files().empty());
  EXPECT_EQ(count(h, " WHERE [worked_by] = 'other 1'"), 1);
  EXPECT_EQ(h.database->counter(), 0);
}

// A moment's trouble (here: a view in the table's place) never switches the record off for
// the run: its making is tried again at the next poll, with one warning per run.
TEST_F(IntakeTest, TheTableIsMadeWhereMissingAndTriedAgainAtEachPollWithOneWarning) {
  h.add_user("sales");
  h.database->exec("DROP TABLE worked_files; CREATE VIEW worked_files AS SELECT 1 AS x");
  const std::string warning =
      "Warning - the table worked_files is missing and could not be created: a web file found again after a crash "
      "may be worked twice";
  h.write_message("b.msg", "sales", "", "one");
  EXPECT_TRUE(h.poll());
  h.write_message("c.msg", "sales", "", "two");
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(h.count_logged(warning), 1);

  h.database->exec("DROP VIEW worked_files");
  h.write_message("d.msg", "sales", "", "three");
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(h.rows().size(), 3u);
  EXPECT_EQ(count(h), 1);
  EXPECT_EQ(h.count_logged(warning), 1);
  EXPECT_TRUE(h.web_files().empty());
}

TEST_F(IntakeTest, RecordsArePrunedAfterTheRetentionDaysAtMostOnceAnHour) {
  h.registry.Worked_Files_Retention_Days = "2";
  h.add_user("sales");
  add_record(h, "three-days", "x.msg", "2026-12-01 19:14:19");
  add_record(h, "one-day", "x.msg", "2026-12-03 19:14:19");
  h.write_message("a.msg", "sales", "", "hi");
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(count(h, " WHERE [file_key] = 'three-days'"), 0);
  EXPECT_EQ(count(h), 2);

  add_record(h, "old", "x.msg", "2026-11-01 00:00:00");
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
