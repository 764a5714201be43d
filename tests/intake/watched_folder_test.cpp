// The watched folder: which files a poll takes, in what order, and what it leaves there. It
// is written by another account and, on a real site, by anything that can write there: names,
// links, held files, huge files and failing copies must never cost a message, leak a file or
// stall the files behind them. Then the record of worked files: a claimed file found after a
// crash is finished from what its record says is done (no second row; the missing copy and
// reports made), a file worked in place (it could not be claimed) is known by its identity
// across restarts and is the arbiter between two modules, and a file sent again is a new
// message.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <utility>

#include "data/db_object.h"
#include "data/dialect.h"
#include "data/fault_engine.h"
#include "data/test_databases.h"
#include "intake/intake_harness.h"
#include "intake/internal/worked_files.h"
#include "support/ctl_runner.h"

namespace dexweb::test {
namespace {

namespace fs = std::filesystem;

// Makes a file immutable, so that it can be neither renamed nor deleted, until release() or
// the end of the object. ok() is false where that cannot be done (not root, or a file
// system without the flag).
class Immutable {
 public:
  explicit Immutable(const std::string& file) : file_(file), ok_(chattr("+i")) {}
  ~Immutable() { release(); }
  Immutable(const Immutable&) = delete;
  Immutable& operator=(const Immutable&) = delete;

  bool ok() const { return ok_; }
  void release() {
    if (std::exchange(ok_, false)) chattr("-i");
  }

 private:
  bool chattr(const char* change) const { return run_to_end({"/usr/bin/chattr", change, file_}, {}) == 0; }

  std::string file_;
  bool ok_;
};

class HostileFolder : public IntakeTest {
 protected:
  void SetUp() override { h.add_user("sales"); }

  std::vector<std::string> messages() {
    std::vector<std::string> texts;
    for (const MessageRow& row : h.rows()) texts.push_back(row.message);
    std::sort(texts.begin(), texts.end());
    return texts;
  }
};

// Only regular ".msg" files are taken, in any case; "*" and "?" are ordinary characters of a
// name; links, folders and pipes are never followed or read.
TEST_F(HostileFolder, OnlyRegularMessageFilesAreTakenAndNothingIsFollowed) {
  h.write_web_file("*.msg", "user=sales\r\nmsg=star\r\n", 60);
  h.write_web_file("?.msg", "user=sales\r\nmsg=question\r\n", 50);
  h.write_web_file("upper.MSG", "user=sales\r\nmsg=upper\r\n");
  h.write_web_file("half.msg.tmp123", "user=sales\r\nmsg=half\r\n");
  for (int i = 0; i < 5; ++i) h.write_web_file("m" + std::to_string(i) + ".msg", "user=sales\r\nmsg=m" + std::to_string(i) + "\r\n");
  TempDir outside;
  write_text(outside.file("SqlServerConnectionString.txt"), "user=sales\r\nmsg=Password=secret\r\n");
  fs::create_symlink(outside.file("SqlServerConnectionString.txt"), h.web.file("conn.msg"));
  fs::create_symlink("/proc/self/environ", h.web.file("env.msg"));
  fs::create_symlink(outside.dir(), h.web.file("folder.msg"));
  ASSERT_EQ(::mkfifo(h.web.file("pipe.msg").c_str(), 0666), 0);

  EXPECT_TRUE(h.poll());
  EXPECT_FALSE(h.poll());
  EXPECT_EQ(messages(), (std::vector<std::string>{"m0", "m1", "m2", "m3", "m4", "question", "star", "upper"}));
  EXPECT_TRUE(h.bad_copies().empty());
  EXPECT_EQ(h.web_files(), (std::vector<std::string>{"conn.msg", "env.msg", "folder.msg", "half.msg.tmp123", "pipe.msg"}));
  for (const char* name : {"conn.msg", "env.msg", "folder.msg", "pipe.msg"})
    EXPECT_EQ(h.count_logged("Not a regular file, left alone: " + h.web.file(name)), 1) << name;
  for (const std::string& line : h.log_lines()) EXPECT_EQ(line.find("secret"), std::string::npos) << line;
}

TEST_F(HostileFolder, AHeldFileIsSkippedAndTheFilesBehindItAreWorked) {
  const std::string held = h.write_web_file("a.msg", "user=sales\r\nmsg=held\r\n", 60);
  for (int i = 0; i < 7; ++i) h.write_web_file("b" + std::to_string(i) + ".msg", "user=sales\r\nmsg=b" + std::to_string(i) + "\r\n");
  {
    WriterHold writer({held});
    EXPECT_TRUE(h.poll());
    EXPECT_EQ(h.rows().size(), 7u);
    EXPECT_EQ(h.web_files(), std::vector<std::string>{"a.msg"});
    EXPECT_TRUE(h.poll());
    EXPECT_TRUE(h.poll());
    EXPECT_EQ(h.count_logged("Web file still open by its writer, left for a later poll: a.msg"), 1);
    EXPECT_FALSE(h.logged("Working on message: a.msg"));
  }
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(h.rows().size(), 8u);
  EXPECT_TRUE(h.web_files().empty());
}

TEST_F(HostileFolder, ARefusedFileStaysUntilItsBadCopyCanBeMade) {
  write_text(h.logs.file("plain"), "");
  h.registry.Log_Dir = h.logs.file("plain") + "/";  // no folder can exist below a file
  const std::string bytes = "frm=Pat\r\nmsg=no user\r\n";
  h.write_web_file("a.msg", bytes);
  EXPECT_TRUE(h.poll());
  EXPECT_TRUE(h.logged("Unable to copy web file to bad folder."));
  EXPECT_EQ(h.count_logged("The web file stays in the folder until its bad copy can be made: " + h.web.file("a.msg")), 1);
  EXPECT_EQ(h.claimed_files().size(), 1u);
  EXPECT_FALSE(h.poll());
  const auto lines = h.log_lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("Message rejected."); }), 1);

  fs::remove(h.logs.file("plain"));  // the missing folders are made
  EXPECT_FALSE(h.poll());
  ASSERT_EQ(files_in(h.logs.file("plain") + "/badmsg").size(), 1u);
  const std::string copy = h.logs.file("plain") + "/badmsg/" + files_in(h.logs.file("plain") + "/badmsg")[0];
  EXPECT_EQ(read_text(copy), bytes);
  EXPECT_TRUE(h.logged("Bad copy made: " + copy));
  EXPECT_TRUE(h.claimed_files().empty());
}

TEST_F(HostileFolder, AFullDiskLeavesNoPartialCopyAndLosesNoFile) {
  const std::string small = h.logs.file("small");
  fs::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a small tmpfs here";
  h.registry.Log_Dir = small + "/";
  h.write_web_file("big.msg", "frm=Pat\r\nmsg=" + std::string(200000, 'x') + "\r\n");
  EXPECT_TRUE(h.poll());
  EXPECT_TRUE(h.logged("Unable to copy web file to bad folder."));
  EXPECT_TRUE(files_in(small + "/badmsg").empty());
  EXPECT_EQ(h.claimed_files().size(), 1u);
  ::umount(small.c_str());
}

TEST_F(HostileFolder, ACopyHoldsWhatWasReadAndOnlyTheAccountsGroupMayReadIt) {
  const std::string sparse = h.web.file("sparse.msg");
  write_text(sparse, "frm=Pat\r\nmsg=hi\r\n");
  fs::resize_file(sparse, std::uintmax_t{2} << 30);
  EXPECT_TRUE(h.poll());
  ASSERT_EQ(h.bad_copies().size(), 1u);
  const std::string copy = h.logs.dir() + "badmsg/" + h.bad_copies()[0];
  EXPECT_EQ(fs::file_size(copy), std::uintmax_t{1} << 20);
  EXPECT_TRUE(h.logged("The bad copy holds only the first 1048576 bytes of the web file: " + copy));
  EXPECT_TRUE(h.web_files().empty());
  EXPECT_EQ(static_cast<int>(fs::status(copy).permissions()) & 0137, 0);
}

// ---- how the scan takes files: which, in what order, and what it leaves there ----

using FolderScan = HostileFolder;

// A poll takes a hundred files, oldest first: without the folder watch the first hundred of
// the listing, with it (the index it keeps) the hundred oldest of the folder wherever they
// are listed, and an older file that lands behind the backlog goes before it.
TEST_F(FolderScan, AHundredFilesAreTakenPerPollOldestFirst) {
  for (const bool watched : {false, true}) {
    SCOPED_TRACE(watched ? "with the folder watch" : "listed");
    FolderIndex index;
    h.folder_index = watched ? &index : nullptr;
    h.database->exec("DELETE FROM messages");
    std::map<std::string, int> age_of;  // message text -> age of its file
    for (int i = 0; i < 150; ++i) {
      const int age = 1000 + (i * 7919) % 150;  // distinct ages in scrambled order
      const std::string text = "m" + std::to_string(i);
      h.write_web_file("f" + std::to_string(i) + ".msg", "user=sales\r\nmsg=" + text + "\r\n", age);
      age_of[text] = age;
    }
    EXPECT_TRUE(h.poll());
    auto rows = h.rows();
    ASSERT_EQ(rows.size(), 100u);
    EXPECT_EQ(h.web_files().size(), 50u);
    for (std::size_t i = 1; i < rows.size(); ++i)
      EXPECT_GT(age_of[rows[i - 1].message], age_of[rows[i].message]) << "row " << i;
    if (watched) {
      EXPECT_EQ(age_of[rows.back().message], 1050);
      h.write_web_file("late.msg", "user=sales\r\nmsg=late\r\n", 5000);
      index.landed({"late.msg"});
    }

    EXPECT_TRUE(h.poll());
    rows = h.rows();
    EXPECT_EQ(rows.size(), watched ? 151u : 150u);
    if (watched) {
      EXPECT_EQ(rows[100].message, "late");
    }
    EXPECT_FALSE(h.poll());
  }
  h.folder_index = nullptr;
}

// A folder that cannot be reached is reported on the first poll only; one named without its
// ending slash still names its files.
TEST_F(FolderScan, AnUnreachableFolderAndOneWithoutItsEndingSlash) {
  h.settings.dexwebcgi_path = h.web.dir() + "missing/";
  EXPECT_FALSE(h.poll());
  EXPECT_FALSE(h.poll());
  EXPECT_EQ(h.count_logged("Unable to access folder: " + h.web.dir() + "missing/"), 1);

  h.settings.dexwebcgi_path = h.web.dir().substr(0, h.web.dir().size() - 1);
  h.write_message("a.msg", "sales", "", "hi");
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(h.rows().size(), 1u);
  EXPECT_TRUE(h.web_files().empty());
}

// ---- the record of worked files ----

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
  Immutable lock(path);
  if (!lock.ok()) GTEST_SKIP() << "no way to make a file immutable here";
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
  decorate_engines<BeforeNextBegin>(h.db, [&] { add_record(h, key, "a.msg", "2026-12-04 19:14:19"); });
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
