// The Linux facilities the layers above rely on: the event loop and its waits, folder
// entries, the instance lock, command lines, the registry file, and what the engines'
// connections report (the SQLite statement time-out, the states of server failures).
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <utility>

#include "platform/event_loop.h"
#include "platform/folder.h"
#include "platform/private_files.h"
#include "platform/odbc.h"
#include "platform/process.h"
#include "platform/registry_file.h"
#include "platform/sqlite_db.h"
#include "support/temp_dir.h"
#include "util/runtime_error.h"

namespace dexweb::platform {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using std::chrono::seconds;
using test::read_text;
using test::TempDir;
using test::write_text;

// ---- the event loop ----

class EventLoopTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int signo : {SIGUSR1, SIGUSR2}) std::signal(signo, SIG_DFL);
    clear_stop_request();
  }
  // Runs the loop for `span` of the clock's steady time (a timer of its own ends it there).
  void run_for(std::chrono::milliseconds span) {
    const SteadyPoint until = clock_.steady_now() + span;
    const auto end = loop_.add_timer(span, [] {}, true);
    loop_.run_until([&] { return clock_.steady_now() >= until; });
    loop_.remove_timer(end);
  }

  ManualClock clock_{TimePoint{} + std::chrono::hours(24 * 365 * 50)};
  ScopedClock scoped_{clock_};
  EventLoop loop_;
};

// A step of the system clock, back or forward, moves no timer.
TEST_F(EventLoopTest, TimersFireEveryIntervalOnlyWhileEnabledWhateverTheSystemClockSays) {
  int ticks = 0;
  auto id = loop_.add_timer(milliseconds{1000}, [&] { ++ticks; }, true);
  clock_.set(clock_.now() - seconds(60));
  run_for(milliseconds{3500});
  EXPECT_EQ(ticks, 3);
  loop_.set_enabled(id, false);
  run_for(seconds{5});
  EXPECT_EQ(ticks, 3);
  // Enabling restarts the interval.
  clock_.advance(seconds{5});
  loop_.set_enabled(id, true);
  clock_.set(clock_.now() + std::chrono::hours(1));
  run_for(milliseconds{999});
  EXPECT_EQ(ticks, 3);
  run_for(milliseconds{1});
  EXPECT_EQ(ticks, 4);
}

// A wait below the loop serves nothing: a signal that comes meanwhile is acted on by the
// loop afterwards; a stop signal ends the wait at once, and every later one.
TEST_F(EventLoopTest, AWaitServesNoEventAndEndsAtAStopSignal) {
  int ticks = 0, reloads = 0, stops = 0;
  loop_.add_timer(milliseconds{100}, [&] { ++ticks; }, true);
  loop_.on_signal(SIGUSR1, [&] { ++reloads; });
  loop_.on_stop_signal(SIGUSR2, [&] { ++stops; });
  clock_.at(seconds{1}, [] { std::raise(SIGUSR1); });
  EXPECT_TRUE(wait_unless_stopped(3));
  EXPECT_EQ(ticks + reloads, 0);
  clock_.at(seconds{1}, [] { std::raise(SIGUSR2); });
  const SteadyPoint before = clock_.steady_now();
  EXPECT_FALSE(wait_unless_stopped(300));
  EXPECT_EQ(clock_.steady_now() - before, seconds{1});
  EXPECT_TRUE(stop_requested());
  EXPECT_FALSE(wait_unless_stopped(300));
  EXPECT_EQ(clock_.steady_now() - before, seconds{1});
  loop_.run_until([&] { return stops == 1; });
  EXPECT_EQ(reloads, 1);
}

// ---- files, the instance lock, command lines ----

TEST(FolderEntryTest, AnEntryIsWorkedAsOpenedNeverThroughItsNameAgain) {
  TempDir dir;
  const std::string path = dir.file("a.msg");
  write_text(path, "first");
  FolderEntry entry = FolderEntry::open(path);
  ASSERT_EQ(entry.status(), FolderEntry::Status::Opened);
  EXPECT_EQ(entry.writer(), WriterState::Closed);
  // Another file takes the name: the opened one is still read, and the newcomer is not deleted.
  ASSERT_EQ(::rename(path.c_str(), dir.file("moved").c_str()), 0);
  write_text(path, "second");
  EXPECT_EQ(entry.read(100), "first");
  EXPECT_FALSE(entry.remove_if_same());
  EXPECT_EQ(read_text(path), "second");

  ASSERT_EQ(::symlink(path.c_str(), dir.file("link.msg").c_str()), 0);
  EXPECT_EQ(FolderEntry::open(dir.file("link.msg")).status(), FolderEntry::Status::NotRegular);
  EXPECT_EQ(FolderEntry::open(dir.file("none.msg")).status(), FolderEntry::Status::Gone);
}

TEST(InstanceLockTest, OneHolderPerDataFolderWhateverTheNameItIsGivenBy) {
  TempDir dir;
  const std::string folder = home_private_folder(dir.dir());
  EXPECT_EQ(folder, dir.dir() + "lock/");
  auto first = std::make_unique<InstanceLock>(folder);
  ASSERT_TRUE(first->acquired());
  EXPECT_EQ(InstanceLock::holder(folder).pid, ::getpid());
  // The same folder through another spelling of its path is the same home.
  EXPECT_EQ(InstanceLock(home_private_folder(dir.dir() + "./")).state(), InstanceLock::State::HeldElsewhere);
  first.reset();
  EXPECT_EQ(InstanceLock::holder(folder).pid, std::nullopt);
  EXPECT_TRUE(InstanceLock(folder).acquired());
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A folder that cannot be made is reported as such, never as another instance.
  write_text(dir.file("plain"), "");
  EXPECT_EQ(InstanceLock(dir.file("plain") + "/lock").state(), InstanceLock::State::CannotOpen);
}

TEST(CommandLineSplit, QuotesGroupWordsAndAreRemoved) {
  EXPECT_EQ(split_command_line("  \"/opt/my tool\" -a \"b c\"d  e "),
            (std::vector<std::string>{"/opt/my tool", "-a", "b cd", "e"}));
  EXPECT_EQ(split_command_line("x \"\""), (std::vector<std::string>{"x", ""}));
}

// ---- the registry file ----

const std::string kMain = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax";

using Probe = std::pair<std::string, std::string>;  // key, value name

std::map<Probe, std::optional<RegData>> read_all(const RegistryFile& reg, const std::vector<Probe>& probes) {
  std::map<Probe, std::optional<RegData>> values;
  for (const Probe& p : probes) values[p] = reg.read(p.first, p.second);
  return values;
}

// Bare CRs end lines just as LF does, "[]" is a key line and a repeated byte order mark is no
// part of the first line: whatever a file means when read, it still means after a value is
// written into it.
TEST(RegistryFile, WritingAValueChangesNoOtherValue) {
  TempDir dir;
  RegistryFile reg(dir.file("velotrax.reg"));
  write_text(reg.path(),
             "\xEF\xBB\xBF\xEF\xBB\xBF[" + kMain + "]\n\"Prog_Dir\"=\"/opt/v/\"\n"
             "[]\r\r\n\"Log_Dir\"=\"/log/\"\r\n"
             "[" + kMain + "\\Monitor]\r\"VTM_Port\"=dword:00001ce8\r\n"
             "[" + kMain + "]\n\"DB_Dir\"=\"/second/section/\"\n");
  const std::vector<Probe> probes = {{kMain, "Prog_Dir"}, {kMain, "Log_Dir"},  {"", "Log_Dir"},
                                     {kMain, "DB_Dir"},   {kMain, "Run_Type"}, {kMain + "\\Monitor", "VTM_Port"}};
  auto before = read_all(reg, probes);
  EXPECT_EQ(before.at(Probe(kMain, "Prog_Dir")), RegData(std::string("/opt/v/")));
  EXPECT_EQ(before.at(Probe("", "Log_Dir")), RegData(std::string("/log/")));
  EXPECT_EQ(before.at(Probe(kMain + "\\Monitor", "VTM_Port")), RegData(std::uint32_t{7400}));
  EXPECT_FALSE(before.at(Probe(kMain, "Log_Dir")));

  reg.write(kMain, "Run_Type", std::string("Application"));
  reg.write(kMain, "db_dir", std::string("/new/"));  // lands where it was read from
  auto after = read_all(reg, probes);
  EXPECT_EQ(read_text(reg.path()).find("/second/section/"), std::string::npos);
  EXPECT_EQ(after.at(Probe(kMain, "Run_Type")), RegData(std::string("Application")));
  EXPECT_EQ(after.at(Probe(kMain, "DB_Dir")), RegData(std::string("/new/")));
  for (const Probe& p : probes) {
    if (p.second == "Run_Type" || p.second == "DB_Dir") continue;
    EXPECT_EQ(after[p], before[p]) << p.first << " " << p.second;
  }

  // A line end inside a value would add lines (here a key line) when read back.
  EXPECT_THROW(reg.write(kMain, "Prog_Dir", std::string("/x/\n[]\n\"Log_Dir\"=\"/y/\"")), RuntimeError);
  EXPECT_EQ(read_all(reg, probes), after);
}

TEST(RegistryFile, LoneSurrogatesInUtf16BecomeReplacementCharacters) {
  TempDir dir;
  RegistryFile reg(dir.file("velotrax.reg"));
  std::u16string text = u"Windows Registry Editor Version 5.00\r\n[K]\r\n\"High\"=\"a\xD800z\"\r\n"
                        u"\"Low\"=\"a\xDC00z\"\r\n\"HighAtEnd\"=\"a\"\r\n\"Pair\"=\"\xD83D\xDE00\"\r\n\"Last\"=\"\xD800";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  write_text(reg.path(), bytes);
  EXPECT_EQ(reg.read("K", "High"), RegData(std::string("a\xEF\xBF\xBDz")));
  EXPECT_EQ(reg.read("K", "Low"), RegData(std::string("a\xEF\xBF\xBDz")));
  EXPECT_EQ(reg.read("K", "Pair"), RegData(std::string("\xF0\x9F\x98\x80")));
  EXPECT_EQ(reg.read("K", "Last"), RegData(std::string("\xEF\xBF\xBD")));

  // Written back as UTF-8, the file reads the same.
  reg.write("K", "Added", std::string("x"));
  EXPECT_EQ(reg.read("K", "High"), RegData(std::string("a\xEF\xBF\xBDz")));
  EXPECT_EQ(reg.read("K", "Low"), RegData(std::string("a\xEF\xBF\xBDz")));
}

// ---- the engines' connections ----

TEST(SqliteDb, LongStatementIsInterruptedAtItsTimeout) {
  TempDir dir;
  auto db = SqliteConnection::open(dir.file("a.db"), true);
  db.set_statement_timeout(50ms);
  try {
    db.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT count(*) FROM n");
    FAIL();
  } catch (const SqliteError& e) {
    EXPECT_EQ(e.code(), SQLITE_INTERRUPT);
  }
  db.set_statement_timeout(0ms);
  db.exec("SELECT 1");
}

TEST(OdbcServer, FailuresCarrySqlStates) {
  const char* clauses = ::getenv("DEXWEB_TEST_PG_ODBC");
  if (!clauses) GTEST_SKIP() << "DEXWEB_TEST_PG_ODBC is not set";
  OdbcEnvironment env;
  OdbcConnection connection(env);
  connection.connect(clauses);
  try {
    connection.statement().execute("SELECT * FROM no_such_table");
    FAIL();
  } catch (const OdbcError& e) {
    EXPECT_EQ(e.records().front().state, "42P01");
  }
  OdbcConnection other(env);
  try {
    other.connect(std::string(clauses) + "Port=1;");
    FAIL();
  } catch (const OdbcError& e) {
    EXPECT_EQ(e.records().front().state.substr(0, 2), "08");
  }
}

}  // namespace
}  // namespace dexweb::platform
