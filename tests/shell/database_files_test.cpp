// The embedded database's files handled as operators handle them, with the real module: a
// file deleted, a write-ahead log deleted, a backup renamed over the file, pages
// overwritten. No message goes into a file that no program reads any more or that is
// damaged, nothing of an old file stays at the path for the next one to read, and every
// message whose file is gone can be read afterwards.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sqlite_db.h"
#include "support/ctl_runner.h"

namespace dexweb::test {
namespace {

namespace fs = std::filesystem;

class DatabaseFiles : public GatewayHome {
 protected:
  // n messages of sales to bob (two rows each), named prefix-1.msg and on.
  void write_files(const std::string& prefix, int n) const {
    for (int i = 1; i <= n; ++i) write_message(prefix + "-" + std::to_string(i) + ".msg", "sales", prefix + "-" + std::to_string(i), "bob");
  }
  bool drained() const { return wait_until([&] { return waiting_files() == 0; }, 30); }
  std::string quick_check() const {
    try {
      auto conn = platform::SqliteConnection::open(db());
      auto st = conn.prepare("PRAGMA quick_check");
      return st.step() ? st.column_text(0) : "";
    } catch (const platform::SqliteError& e) {
      return e.message();
    }
  }
  // The files beside the database whose names start with what.
  std::vector<std::string> beside(const std::string& what) const {
    std::vector<std::string> out;
    for (const std::string& name : files_in(home + "data"))
      if (name.starts_with(what)) out.push_back(name);
    return out;
  }
};

// The operator deletes velotrax.db under the running module, which halts; then copies a
// clean database back and starts it again. The old file's write-ahead log must not be
// there for the clean file to read.
TEST_F(DatabaseFiles, DeletedThenACleanCopyRestored) {
  fs::copy_file(db(), dir.file("clean.db"));
  write_files("a", 300);
  auto module = start_module();
  ASSERT_TRUE(drained()) << module->stderr_text();
  fs::remove(db());
  write_files("b", 2);
  EXPECT_EQ(module->wait(40), 1) << module->stderr_text();
  EXPECT_TRUE(logged("  Program Halted. Database error: 3024 unable to open database file: " + db() +
                     " is missing in Procedure: check_for_messages"));
  EXPECT_EQ(beside("velotrax.db"), std::vector<std::string>{});
  EXPECT_EQ(waiting_files(), 2u);

  fs::copy_file(dir.file("clean.db"), db());
  write_files("c", 50);
  module = start_module();
  EXPECT_TRUE(drained()) << module->stderr_text();
  module->signal(SIGTERM);
  EXPECT_EQ(module->wait(), 0);
  EXPECT_EQ(count_rows(), 2 * (2 + 50));
  EXPECT_EQ(quick_check(), "ok");
  EXPECT_FALSE(logged("The web file was worked already"));
}

// The operator deletes velotrax.db-wal under the running module; more messages come, then
// the module is killed. Nothing committed goes down with the deleted log, and other readers
// go on reading meanwhile.
TEST_F(DatabaseFiles, ADeletedWriteAheadLog) {
  write_files("a", 50);
  auto module = start_module();
  ASSERT_TRUE(drained()) << module->stderr_text();
  fs::remove(db() + "-wal");
  write_files("b", 50);
  ASSERT_TRUE(drained()) << module->stderr_text();
  EXPECT_TRUE(wait_until([&] { return count_rows() == 200; }));
  EXPECT_TRUE(wait_logged("  The write-ahead log of " + db() +
                          " was deleted or replaced under the open database: its pages go into the database file and the "
                          "database is opened again"));
  module->signal(SIGKILL);
  module->wait();
  EXPECT_EQ(count_rows(), 200);
  EXPECT_EQ(quick_check(), "ok");
}

// A backup is renamed over velotrax.db while the module runs and another program holds a
// read of the file: the old file's log, which a checkpoint cannot empty while that read
// lasts, goes aside, and the restored file holds its own rows and the new ones only.
TEST_F(DatabaseFiles, ABackupRestoredWhileAnotherProgramReads) {
  write_files("a", 25);
  auto module = start_module();
  ASSERT_TRUE(drained()) << module->stderr_text();
  auto reader = platform::SqliteConnection::open(db());
  reader.exec("VACUUM INTO '" + dir.file("backup.db") + "'");
  reader.exec("BEGIN; SELECT COUNT(*) FROM [messages];");
  write_files("b", 25);
  ASSERT_TRUE(drained()) << module->stderr_text();

  fs::copy_file(dir.file("backup.db"), db() + ".restore");
  fs::rename(db() + ".restore", db());
  write_files("c", 5);
  EXPECT_TRUE(drained()) << module->stderr_text();
  reader.exec("COMMIT");
  module->signal(SIGTERM);
  EXPECT_EQ(module->wait(), 0);
  EXPECT_EQ(count_rows(" WHERE [message] LIKE 'a-%'"), 50);
  EXPECT_EQ(count_rows(" WHERE [message] LIKE 'b-%'"), 0);
  EXPECT_EQ(count_rows(" WHERE [message] LIKE 'c-%'"), 10);
  EXPECT_EQ(quick_check(), "ok");
  EXPECT_TRUE(logged("  The database file " + db() +
                     " is not the one opened before: the module goes on with the file now there"));
  EXPECT_EQ(beside("velotrax.db-wal.stale-").size(), 1u);
  EXPECT_TRUE(logged("  Moved " + db() + "-wal aside to " + home + "data/" + beside("velotrax.db-wal.stale-").at(0) +
                     ": it holds pages of a database file that is no longer at " + db()));
}

// Pages in the middle of velotrax.db overwritten while the module is stopped: it halts
// before it takes a file, and every file waits.
TEST_F(DatabaseFiles, OverwrittenPagesHaltTheModuleAtStart) {
  write_files("a", 300);
  auto module = start_module();
  ASSERT_TRUE(drained()) << module->stderr_text();
  module->signal(SIGTERM);
  ASSERT_EQ(module->wait(), 0);
  {
    auto conn = platform::SqliteConnection::open(db());
    auto page = conn.prepare(
        "SELECT [pageno] FROM [dbstat] WHERE [name] = 'messages' AND [pagetype] = 'leaf' ORDER BY [pageno] LIMIT 1 "
        "OFFSET 10");
    ASSERT_TRUE(page.step());
    std::fstream file(db(), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp((page.column_int(0) - 1) * 4096);
    file << std::string(4096, 'U');
  }
  write_files("b", 20);
  const std::string before = log();
  module = start_module();
  EXPECT_EQ(module->wait(10), 1) << module->stderr_text();
  const std::string run = log().substr(before.size());
  EXPECT_NE(run.find("  Program Halted. Database error: 3049 database disk image is malformed"), std::string::npos) << run;
  EXPECT_EQ(run.find("Message accepted"), std::string::npos) << run;
  EXPECT_EQ(waiting_files(), 20u);
}

}  // namespace
}  // namespace dexweb::test
