// The watched folder as sites share it, with the real module: writers that hold files open
// or rename onto a name being worked, a folder swapped for a link or renamed away, several
// modules on one folder, and kills.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "platform/sqlite_db.h"
#include "support/child_process.h"
#include "support/ctl_runner.h"
#include "support/temp_dir.h"

namespace dexweb::test {
namespace {

namespace fs = std::filesystem;

// The home's database polled once a minute: what is stored at once was picked up as it came.
class SharedFolder : public GatewayHome {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(GatewayHome::SetUp());
    sql("UPDATE settings SET dexweb_poll = 60");
  }
};

// ---- held files: a thousand files their writers hold open keep nothing waiting ----

TEST_F(SharedFolder, HeldFilesDoNotCountAndCostNoWaitSoTheCompleteOnesAreStoredAtOnce) {
  constexpr int kHeld = 1000;
  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t writer = ::fork();
  if (writer == 0) {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    for (int i = 0; i < kHeld; ++i)
      if (::open((web + "held" + std::to_string(i) + ".msg").c_str(), O_WRONLY | O_CREAT, 0644) < 0) ::_exit(1);
    char c = 'r';
    (void)!::write(ready[1], &c, 1);
    (void)!::read(done[0], &c, 1);
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  for (int i = 0; i < 20; ++i) write_message("complete" + std::to_string(i) + ".msg", "sales", "c" + std::to_string(i));
  const auto module = start_module();
  EXPECT_TRUE(wait_until([&] { return rows().size() == 20; }, 10)) << rows().size() << " of 20 stored";
  EXPECT_EQ(files_in(web).size(), static_cast<std::size_t>(kHeld));
  (void)!::write(done[1], &c, 1);
  ::waitpid(writer, nullptr, 0);
}

// ---- reused names: a name renamed onto while it is worked, names of earlier runs ----

TEST_F(SharedFolder, AFileRenamedOntoANameBeingWorkedIsNeverLost) {
  const char* given = std::getenv("DEXWEB_RACE_SECONDS");
  const double seconds = given ? std::atof(given) : 3.0;
  const auto module = start_module();
  ASSERT_TRUE(wait_logged("Module Started"));
  // The writer swaps each new file in for the one under the name; a file it got back was
  // not taken yet and goes in again under a name of its own: whatever is lost, the module
  // lost it.
  const std::string target = web + "race.msg";
  int written = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    const std::string part = web + ".part" + std::to_string(written);
    write_text(part, "user=sales\r\nfrm=race\r\nmsg=r" + std::to_string(written) + "\r\n");
    if (::renameat2(AT_FDCWD, part.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0)
      fs::rename(part, web + "back" + std::to_string(written) + ".msg");
    else
      fs::rename(part, target);
    ++written;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ASSERT_TRUE(wait_until([&] { return waiting_files() == 0; }, 60)) << module->stderr_text();
  const auto stored = rows();
  int lost = 0;
  for (int i = 0; i < written; ++i) lost += stored.contains("r" + std::to_string(i)) ? 0 : 1;
  EXPECT_EQ(lost, 0) << "of " << written << " files";
  RecordProperty("files", written);
}

TEST_F(SharedFolder, BadCopyNamesOfALaterRunNeverRepeatAnEarlierRunsAndTheNoticesOfAKilledRunAreMade) {
  write_text(home + "prog/failurenotifylist.txt", "ops@example.org\r\n");
  write_text(home + "prog/failure.mtp", "Subject: refused\r\n\r\n%Message%\r\n");
  sql("UPDATE settings SET dexmail_enabled = 1");
  const std::string mail_out = home + "data/MailOut";
  std::set<std::string> names;
  for (int run = 0; run < 2; ++run) {
    const auto module = start_module();
    write_message("refused" + std::to_string(run) + ".msg", "nobody", "n" + std::to_string(run));
    ASSERT_TRUE(wait_until([&] { return files_in(home + "log/badmsg").size() == static_cast<std::size_t>(run + 1); }));
    ASSERT_TRUE(wait_until([&] { return files_in(mail_out).size() == static_cast<std::size_t>(run + 1); }));
    module->signal(SIGTERM);
    EXPECT_EQ(module->wait(), 0);
    for (const std::string& folder : {home + "log/badmsg", mail_out})
      for (const std::string& name : files_in(folder)) names.insert(name.substr(20));  // after VTXWeb + time
  }
  // Each run's names go on from the sequence of the one before: four names, no number twice.
  EXPECT_EQ(names.size(), 4u);

  // Killed while the notice could not be written (MailOut missing), the file is recorded
  // already: the next run makes the notice.
  fs::rename(mail_out, mail_out + ".away");
  {
    const auto module = start_module();
    write_message("late.msg", "nobody", "late");
    ASSERT_TRUE(wait_until([&] { return files_in(home + "log/badmsg").size() == 3; }));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    module->signal(SIGKILL);
    module->wait();
  }
  fs::rename(mail_out + ".away", mail_out);
  const auto module = start_module();
  EXPECT_TRUE(wait_until([&] {
    for (const std::string& name : files_in(mail_out))
      if (read_text(mail_out + "/" + name).find("late") != std::string::npos) return true;
    return false;
  }));
  EXPECT_EQ(files_in(home + "log/badmsg").size(), 3u);
}

// ---- swapped folder: a link in its place is never followed; a new folder is watched ----

TEST_F(SharedFolder, AFolderSwappedForALinkIsLeftAloneAndOneMadeAnewIsWatched) {
  write_text(home + "data/MailOut/pending.msg", "user=sales\r\nmsg=a mail file\r\n");
  const auto module = start_module();
  ASSERT_TRUE(wait_logged("Module Started"));
  fs::rename(web, home + "web.old");
  fs::create_directory_symlink(home + "data/MailOut", home + "web");
  const std::string refusal = "The watched folder is a link, not a folder, and is left alone: " + web;
  EXPECT_TRUE(wait_until([&] { return module->stderr_text().find(refusal) != std::string::npos; })) << module->stderr_text();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(files_in(home + "data/MailOut"), std::vector<std::string>{"pending.msg"});
  EXPECT_TRUE(files_in(home + "log/badmsg").empty());

  // Renamed away and made anew: the new folder is watched, files there are taken at once
  // although the next poll by the clock is a minute away.
  fs::remove(home + "web");
  fs::create_directory(home + "web");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  write_message("new.msg", "sales", "in the new folder");
  EXPECT_TRUE(wait_until([&] { return rows().contains("in the new folder"); }, 10));
  EXPECT_EQ(files_in(home + "data/MailOut"), std::vector<std::string>{"pending.msg"});
}

// ---- several modules on one folder: each claims different files ----

TEST_F(SharedFolder, TwoModulesOnOneFolderEachWorkDifferentFiles) {
  const std::string second = dir.dir() + "second/";
  ASSERT_EQ(run_ctl({"init", second}), 0);
  platform::SqliteConnection::open(second + "data/velotrax.db")
      .exec("UPDATE settings SET dexweb_poll = 60, dexwebcgi_path = '" + web + "'");
  constexpr int kFiles = 600;
  for (int i = 0; i < kFiles; ++i) write_message("m" + std::to_string(i) + ".msg", "sales", "m" + std::to_string(i));
  const auto first = start_module();
  ChildProcess other({DEXWEB_BIN}, {{"VELOTRAX_REGISTRY", second + "velotrax.reg"}});
  ASSERT_TRUE(wait_until([&] { return waiting_files() == 0; }, 60)) << other.stderr_text();
  // Each module has a database of its own here: a file worked by both would be in both.
  auto rows = this->rows();
  for (const auto& [message, count] : stored_messages(second + "data/velotrax.db")) rows[message] += count;
  EXPECT_EQ(rows.size(), static_cast<std::size_t>(kFiles));
  for (const auto& [message, count] : rows) EXPECT_EQ(count, 1) << message;
  EXPECT_FALSE(logged("worked already"));
}

}  // namespace
}  // namespace dexweb::test
