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

// A gateway home of dexwebctl init, its watched folder possibly another home's.
struct Home {
  explicit Home(const std::string& at, bool make = true) : dir(at) {
    if (make) {
      EXPECT_EQ(run_ctl({"init", dir}), 0);
    }
  }

  void sql(const std::string& statement) const { platform::SqliteConnection::open(dir + "data/velotrax.db").exec(statement); }
  // Messages and their rows.
  std::map<std::string, int> rows() const {
    std::map<std::string, int> out;
    auto conn = platform::SqliteConnection::open(dir + "data/velotrax.db");
    auto st = conn.prepare("SELECT [message] FROM [messages]");
    while (st.step()) ++out[st.column_text(0)];
    return out;
  }
  std::map<std::string, std::string> env(std::map<std::string, std::string> more = {}) const {
    more["VELOTRAX_REGISTRY"] = dir + "velotrax.reg";
    return more;
  }
  std::string log() const { return read_text(dir + "log/VTXWeb.log"); }

  std::string dir;
};

// Files still to be worked: in the watched folder or in a claim folder there.
std::size_t waiting_files(const std::string& web) {
  std::size_t n = files_in(web).size();
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(web + ".dexweb", ec))
    n += e.is_regular_file() && e.path().filename() != "lock";
  return n;
}

void write_message(const std::string& web, const std::string& name, const std::string& user, const std::string& text) {
  write_text(web + "." + name + ".part", "user=" + user + "\r\nfrm=Pat\r\nmsg=" + text + "\r\n");
  fs::rename(web + "." + name + ".part", web + name);
}

class SharedFolder : public GatewayHome {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(GatewayHome::SetUp());
    web = home + "web/";
    main.sql("UPDATE settings SET dexweb_poll = 60");
  }

  TempDir more;
  Home main{home, false};  // made by GatewayHome
  std::string web;
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
  for (int i = 0; i < 20; ++i) write_message(web, "complete" + std::to_string(i) + ".msg", "sales", "c" + std::to_string(i));
  ChildProcess module({DEXWEB_BIN}, main.env());
  EXPECT_TRUE(wait_until([&] { return main.rows().size() == 20; }, 10)) << main.rows().size() << " of 20 stored";
  EXPECT_EQ(files_in(web).size(), static_cast<std::size_t>(kHeld));
  (void)!::write(done[1], &c, 1);
  ::waitpid(writer, nullptr, 0);
}

// ---- reused names: a name renamed onto while it is worked, names of earlier runs ----

TEST_F(SharedFolder, AFileRenamedOntoANameBeingWorkedIsNeverLost) {
  const char* given = std::getenv("DEXWEB_RACE_SECONDS");
  const double seconds = given ? std::atof(given) : 3.0;
  ChildProcess module({DEXWEB_BIN}, main.env());
  ASSERT_TRUE(wait_until([&] { return main.log().find("Module Started") != std::string::npos; }));
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
  ASSERT_TRUE(wait_until([&] { return waiting_files(web) == 0; }, 60)) << module.stderr_text();
  const auto rows = main.rows();
  int lost = 0;
  for (int i = 0; i < written; ++i) lost += rows.contains("r" + std::to_string(i)) ? 0 : 1;
  EXPECT_EQ(lost, 0) << "of " << written << " files";
  RecordProperty("files", written);
}

TEST_F(SharedFolder, BadCopyNamesOfALaterRunNeverRepeatAnEarlierRunsAndTheNoticesOfAKilledRunAreMade) {
  write_text(home + "prog/failurenotifylist.txt", "ops@example.org\r\n");
  write_text(home + "prog/failure.mtp", "Subject: refused\r\n\r\n%Message%\r\n");
  main.sql("UPDATE settings SET dexmail_enabled = 1");
  const std::string mail_out = home + "data/MailOut";
  std::set<std::string> names;
  for (int run = 0; run < 2; ++run) {
    ChildProcess module({DEXWEB_BIN}, main.env());
    write_message(web, "refused" + std::to_string(run) + ".msg", "nobody", "n" + std::to_string(run));
    ASSERT_TRUE(wait_until([&] { return files_in(home + "log/badmsg").size() == static_cast<std::size_t>(run + 1); }));
    ASSERT_TRUE(wait_until([&] { return files_in(mail_out).size() == static_cast<std::size_t>(run + 1); }));
    module.signal(SIGTERM);
    EXPECT_EQ(module.wait(), 0);
    for (const std::string& folder : {home + "log/badmsg", mail_out})
      for (const std::string& name : files_in(folder)) names.insert(name.substr(20));  // after VTXWeb + time
  }
  // Each run's names go on from the sequence of the one before: four names, no number twice.
  EXPECT_EQ(names.size(), 4u);

  // Killed while the notice could not be written (MailOut missing), the file is recorded
  // already: the next run makes the notice.
  fs::rename(mail_out, mail_out + ".away");
  {
    ChildProcess module({DEXWEB_BIN}, main.env());
    write_message(web, "late.msg", "nobody", "late");
    ASSERT_TRUE(wait_until([&] { return files_in(home + "log/badmsg").size() == 3; }));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    module.signal(SIGKILL);
    module.wait();
  }
  fs::rename(mail_out + ".away", mail_out);
  ChildProcess module({DEXWEB_BIN}, main.env());
  EXPECT_TRUE(wait_until([&] {
    for (const std::string& name : files_in(mail_out))
      if (read_text(mail_out + "/" + name).find("late") != std::string::npos) return true;
    return false;
  }));
  EXPECT_EQ(files_in(home + "log/badmsg").size(), 3u);
}

// ---- swapped folder: a link in its place is never followed; a new folder is watched ----

TEST_F(SharedFolder, AFolderSwappedForALinkIsLeftAloneAndOneMadeAnewIsWatched) {
  write_message(home + "data/MailOut/", "pending.msg", "sales", "a mail file");
  ChildProcess module({DEXWEB_BIN}, main.env());
  ASSERT_TRUE(wait_until([&] { return main.log().find("Module Started") != std::string::npos; }));
  fs::rename(web, home + "web.old");
  fs::create_directory_symlink(home + "data/MailOut", home + "web");
  const std::string refusal = "The watched folder is a link, not a folder, and is left alone: " + web;
  EXPECT_TRUE(wait_until([&] { return module.stderr_text().find(refusal) != std::string::npos; })) << module.stderr_text();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(files_in(home + "data/MailOut"), std::vector<std::string>{"pending.msg"});
  EXPECT_TRUE(files_in(home + "log/badmsg").empty());

  // Renamed away and made anew: the new folder is watched, files there are taken at once
  // although the next poll by the clock is a minute away.
  fs::remove(home + "web");
  fs::create_directory(home + "web");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  write_message(web, "new.msg", "sales", "in the new folder");
  EXPECT_TRUE(wait_until([&] { return main.rows().contains("in the new folder"); }, 10));
  EXPECT_EQ(files_in(home + "data/MailOut"), std::vector<std::string>{"pending.msg"});
}

// ---- several modules on one folder: each claims different files ----

TEST_F(SharedFolder, TwoModulesOnOneFolderEachWorkDifferentFiles) {
  Home second(more.dir() + "second/");
  second.sql("UPDATE settings SET dexweb_poll = 60, dexwebcgi_path = '" + web + "'");
  constexpr int kFiles = 600;
  for (int i = 0; i < kFiles; ++i) write_message(web, "m" + std::to_string(i) + ".msg", "sales", "m" + std::to_string(i));
  ChildProcess first({DEXWEB_BIN}, main.env());
  ChildProcess other({DEXWEB_BIN}, second.env());
  ASSERT_TRUE(wait_until([&] { return waiting_files(web) == 0; }, 60)) << other.stderr_text();
  // Each module has a database of its own here: a file worked by both would be in both.
  auto rows = main.rows();
  for (const auto& [message, count] : second.rows()) rows[message] += count;
  EXPECT_EQ(rows.size(), static_cast<std::size_t>(kFiles));
  for (const auto& [message, count] : rows) EXPECT_EQ(count, 1) << message;
  EXPECT_EQ(main.log().find("worked already"), std::string::npos);
}

}  // namespace
}  // namespace dexweb::test
