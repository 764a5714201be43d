// The running module in one process: the poll cycle's ticks, stops, pauses and clock, and
// the error routine it goes through.
#include <signal.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "logging/error_policy.h"
#include "logging/log_event.h"
#include "logging/monitor_link.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "shell/module_fixture.h"

namespace dexweb::test {
namespace {

using std::chrono::seconds;

class PollCycle : public ModuleTest {};

// The filters' files live in a private folder of the home, emptied at start and removed at
// the stop.
TEST_F(PollCycle, RunsTicksInAPrivateFolderAndStopsWhenRunIsCleared) {
  const std::string folder = db_->dir() + "lock/tmp/";
  std::filesystem::create_directories(folder + "left by a killed run");
  write_text(folder + "left by a killed run/x.txt", "x");
  ASSERT_EQ(::symlink(logs_.dir().c_str(), (folder + "link").c_str()), 0);
  daemon_->settle_in_home();
  EXPECT_EQ(daemon_->temp_folder(), folder);
  EXPECT_EQ(files_in(folder).size(), 0u);
  EXPECT_TRUE(std::filesystem::exists(logs_.dir()));
  struct stat st {};
  ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  write_text(folder + "left by a filter.txt", "x");

  int polls = 0;
  poll_ = [&](Daemon&) { return ++polls, false; };
  EXPECT_EQ(run_ticks(10), -1);
  EXPECT_EQ(polls, 1);  // the first tick polls; the next poll is 60 s later
  exec("UPDATE [control] SET [dexweb_run] = 0");
  EXPECT_EQ(run_ticks(5), 0);
  EXPECT_TRUE(logged("Module Stopped"));
  EXPECT_EQ(scalar("SELECT [dexweb_state] FROM [control]"), "0");
  EXPECT_NE(::lstat(folder.c_str(), &st), 0);
  auto got = monitor_.receive_all();
  EXPECT_TRUE(std::any_of(got.begin(), got.end(), [](auto& d) { return d.find("|running|") != std::string::npos; }));
  EXPECT_EQ(got.back().substr(got.back().size() - 10), "|stopped|\r");
}

TEST_F(PollCycle, AValueThatDoesNotConvertAtTheFirstTickHaltsThroughTheErrorRoutine) {
  exec("UPDATE [settings] SET [log_level] = 'high'");
  read_monitor_settings(daemon_->registry());  // as the start-up does before the first tick
  EXPECT_EQ(run_ticks(3), 1);
  EXPECT_TRUE(logged("Program Halted. Error# 13 Type mismatch in Procedure: repeat_timer")) << log_text();
  EXPECT_TRUE(logged("Module Stopped"));
  auto got = monitor_.receive_all();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back().substr(got.back().size() - 10), "|stopped|\r");
}

// A database that cannot be opened stops it as well (Startup.RefusalsAndHaltsReachStandardError).
TEST_F(PollCycle, WrongDatabaseVersionStopsAtFirstTick) {
  exec("UPDATE [settings] SET [dbversion] = 1101");
  EXPECT_EQ(run_ticks(1), 1);
  EXPECT_TRUE(logged("Module stopped. Database version conflict"));
}

TEST_F(PollCycle, PauseAtStartWaitsUntilLifted) {
  exec("UPDATE [control] SET [dexweb_pause] = 1");
  clock_.at(std::chrono::milliseconds(4500), [&] { exec("UPDATE [control] SET [dexweb_pause] = 0, [dexweb_run] = 0"); });
  auto start = clock_.now();
  EXPECT_EQ(run_ticks(1), -1);
  EXPECT_LT(clock_.now() - start, seconds(10));
  EXPECT_TRUE(logged("Module resumed"));
  EXPECT_EQ(scalar("SELECT [dexweb_run] || [dexweb_state] FROM [control]"), "10");
}

TEST_F(PollCycle, PauseAtStartGivesUpAfterFiveMinutes) {
  exec("UPDATE [control] SET [dexweb_pause] = 1");
  auto start = clock_.now();
  EXPECT_EQ(run_ticks(1), -1);
  EXPECT_GE(clock_.now() - start, seconds(300));
  EXPECT_TRUE(logged("Module resumed"));
}

TEST_F(PollCycle, ClockFollowsTheSchedulersStep) {
  exec("UPDATE [control] SET [sched_state] = 1, [velotrax_time] = '2026-03-05 15:20:00'");
  clock_.at(std::chrono::milliseconds(1200), [&] { exec("UPDATE [control] SET [velotrax_time] = '2026-03-05 15:20:02'"); });
  run_ticks(1);
  EXPECT_TRUE(logged("Time synchronized with database"));
  // The scheduler's clock is an hour ahead, caught 1.5 s after the tick began.
  auto offset = std::chrono::duration_cast<seconds>(platform::server_time_offset()).count();
  EXPECT_NEAR(offset, 3600, 2);
}

TEST_F(PollCycle, ClockStaysLocalWhenTheSchedulerDoesNotStep) {
  exec("UPDATE [control] SET [sched_state] = 1, [velotrax_time] = '2026-03-05 15:20:00'");
  auto start = clock_.now();
  run_ticks(1);
  EXPECT_EQ(clock_.now() - start, seconds(5 + 1));  // ten half-second waits, then the next tick
  EXPECT_TRUE(logged("Unable to synchronize time with database. Using local time."));
  EXPECT_EQ(platform::server_time_offset().count(), 0);
  EXPECT_TRUE(daemon_->time_sync_pending());
}

TEST_F(PollCycle, SchedulerOnThisMachineSharesItsClock) {
  settings_.Sched_Run = "True";
  start_daemon();
  exec("UPDATE [control] SET [sched_state] = 1, [velotrax_time] = '2026-03-05 15:20:00'");
  platform::set_server_time_offset(seconds(99));
  run_ticks(1);
  EXPECT_EQ(platform::server_time_offset().count(), 0);
  EXPECT_TRUE(logged("Time synchronized with database"));
}

// The object stays while its file is closed: a file put in its place meanwhile is told
// apart, logged and checked before it is used.
TEST_F(PollCycle, HourlyPingClosesTheEmbeddedDatabase) {
  run_ticks(1);
  clock_.advance(std::chrono::minutes(45));
  run_ticks(1);
  ASSERT_TRUE(daemon_->database());
  EXPECT_FALSE(daemon_->database()->IsOpen());
  exec("VACUUM INTO '" + db_->dir() + "copy.db'");
  std::filesystem::rename(db_->dir() + "copy.db", db_->dir() + "velotrax.db");
  EXPECT_EQ(run_ticks(4), -1);  // the next operations open it again
  EXPECT_TRUE(logged("Log ping..."));
  EXPECT_TRUE(logged("The database file " + db_->dir() +
                     "velotrax.db is not the one opened before: the module goes on with the file now there"));
}

// ---- the error routine: retries, warnings and the halt, by class of error ----

class ErrorPolicy : public ModuleTest {
 protected:
  // Calls the error routine with the same error until it halts; the number of the call
  // that halted, or 0.
  int calls_until_halt(int number, int limit = 100) {
    RuntimeError e(number, "Something failed");
    for (int call = 1; call <= limit; ++call) {
      try {
        daemon_->policy().on_error(e, "Procedure: repeat_timer");
      } catch (const ModuleHalted& halt) {
        EXPECT_EQ(daemon_->finish(halt), 1);
        return call;
      }
    }
    return 0;
  }

  int count(const std::string& text) {
    std::string log = log_text();
    int n = 0;
    for (auto p = log.find(text); p != std::string::npos; p = log.find(text, p + 1)) ++n;
    return n;
  }
};

TEST_F(ErrorPolicy, RetryableDatabaseErrorWarnsOnceThenHaltsWithoutTouchingTheDatabase) {
  EXPECT_EQ(run_ticks(1), -1);
  auto start = clock_.now();
  EXPECT_EQ(calls_until_halt(3024), 12);
  auto waited = clock_.now() - start;
  EXPECT_GE(waited, std::chrono::seconds(11));  // eleven retry waits of 1 to 2 s
  EXPECT_LE(waited, std::chrono::seconds(23));
  EXPECT_EQ(count("  Warning. Unable to access database: Procedure: repeat_timer. Retrying...\r\n"), 1);
  EXPECT_EQ(count("  Program Halted. Database error: 3024 Something failed in Procedure: repeat_timer\r\n"), 1);
  EXPECT_TRUE(logged("Module Stopped"));
  EXPECT_TRUE(daemon_->policy().db_error_halted());
  EXPECT_TRUE(daemon_->database() && daemon_->database()->IsOpen());
  EXPECT_EQ(scalar("SELECT [dexweb_state] FROM [control]"), "1");
  auto got = monitor_.receive_all();
  EXPECT_NE(got.back().find("|stopped|"), std::string::npos);
}

TEST_F(ErrorPolicy, FileErrorWarnsFourTimesThenHaltsAndClosesTheDatabase) {
  EXPECT_EQ(run_ticks(1), -1);
  EXPECT_EQ(calls_until_halt(53), 55);
  EXPECT_EQ(count("Warning. Unable to access file/directory: Procedure: repeat_timer. Retrying..."), 4);
  EXPECT_TRUE(logged("Program Halted. File/Directory error: 53 Something failed in Procedure: repeat_timer"));
  EXPECT_TRUE(daemon_->policy().program_halted());
  EXPECT_FALSE(daemon_->database());
  EXPECT_EQ(scalar("SELECT [dexweb_state] FROM [control]"), "1");
}

// Other errors halt at once as well (PollCycle.AValueThatDoesNotConvertAtTheFirstTickHalts...).
TEST_F(ErrorPolicy, PermanentDatabaseErrorsHaltAtOnce) {
  EXPECT_EQ(calls_until_halt(3022), 1);
  EXPECT_TRUE(logged("Program Halted. Database error: 3022 Something failed in Procedure: repeat_timer"));
}

TEST_F(ErrorPolicy, AFreshStartEndsTheBurst) {
  for (int i = 0; i < 5; ++i) daemon_->policy().on_error(RuntimeError(3024, "busy"), "Procedure: repeat_timer");
  EXPECT_EQ(run_ticks(1), -1);  // the tick starts afresh
  EXPECT_EQ(daemon_->policy().retry_count(), 0);
  EXPECT_EQ(calls_until_halt(3024), 12);
}

// A halt reaches the top of the run from inside the retries of the data layer and of the
// notifications: the stop sequence runs, "Module Stopped" is logged and the run ends with
// status 1.
class HaltInsideWaits : public ErrorPolicy, public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    ErrorPolicy::SetUp();
    exec("UPDATE [settings] SET [dexwebcgi_path] = '" + web_.dir() + "', [log_to_disk] = 1, [dexmail_enabled] = 1, "
         "[domain] = 'example.org'");
    exec("INSERT INTO [users] ([user], [web_service]) VALUES ('sales', 1)");
    settings_.Prog_Dir = prog_.dir();
    start_daemon();
    daemon_->settle_in_home();
    std::filesystem::create_directory(db_->dir() + "MailOut");
    write_text(prog_.file("failurenotifylist.txt"), "ops@example.org\r\n");
    write_text(prog_.file("failure.mtp"), "Subject: refused\r\n\r\n%Message%\r\n");
  }

  // Runs the module on the process's loop. The first poll takes 1.5 s and leaves files
  // waiting; the second, run from the loop, meets the kind's trouble with b.msg. The
  // status, or -1 when nothing halted within an hour.
  int run_with_second_poll(const std::string& wait) {
    write_text(web_.file("a.msg"), "user=sales\r\nmsg=first\r\n");
    int polls = 0;
    poll_ = [&](Daemon& d) {
      if (++polls == 2) halt_line_ = arrange(wait);
      const bool found = d.poll_intake();
      if (polls == 1) {
        // Made now, so that the folder watch has told of it when the second poll runs.
        write_text(web_.file("b.msg"), wait == "NotificationRetry" ? "user=nobody\r\nmsg=second\r\n" : "user=sales\r\nmsg=second\r\n");
        clock_.advance(std::chrono::milliseconds(1500));
      }
      return found;
    };
    clock_.at(std::chrono::hours(1), [&] { daemon_->request_stop(true); });
    daemon_->enable_poll_timer();
    const int status = daemon_->run();
    EXPECT_EQ(polls, 2);
    return status;
  }

  // What goes wrong in b.msg's work; the halt line it ends in.
  std::string arrange(const std::string& wait) {
    if (wait == "DataRetry") {
      exec("ALTER TABLE [messages] RENAME TO [messages_away]");
      return "Program Halted. Database error: 3075 SQL logic error";
    }
    // NotificationRetry
    std::filesystem::remove_all(db_->dir() + "MailOut");
    return "Program Halted. File/Directory error: 53 No such file or directory: create " + db_->dir() + "MailOut/";
  }

  TempDir web_, prog_;
  std::string halt_line_;
};
INSTANTIATE_TEST_SUITE_P(Waits, HaltInsideWaits,
                         ::testing::Values("DataRetry", "NotificationRetry"),
                         [](const auto& wait) { return wait.param; });

TEST_P(HaltInsideWaits, TheHaltEndsTheRunWithTheStopSequence) {
  EXPECT_EQ(run_with_second_poll(GetParam()), 1);
  const std::string log = log_text();
  EXPECT_NE(log.find("  " + halt_line_), std::string::npos) << log;
  EXPECT_TRUE(logged("Module Stopped"));
  // b.msg stays, in the folder or claimed, for the next run.
  bool kept = false;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(web_.dir()))
    kept = kept || entry.path().filename().string().ends_with("b.msg");
  EXPECT_TRUE(kept);
  auto got = monitor_.receive_all();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back().substr(got.back().size() - 10), "|stopped|\r");
}

}  // namespace
}  // namespace dexweb::test
