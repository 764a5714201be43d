// A stop asked for while a message is being worked ends the run between two files: every
// file is either worked whole (its rows stored and the file gone) or not started, so a
// restart pages nobody twice. A stop that comes while a message's work waits (retries of its
// notices or of its rows) abandons that message at once, and the next run finishes it.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>

#include "platform/sqlite_db.h"
#include "support/child_process.h"
#include "support/ctl_runner.h"
#include "support/temp_dir.h"

namespace dexweb::test {
namespace {

class StopTest : public GatewayHome {
 protected:
  std::map<std::string, int> rows_per_message() {
    std::map<std::string, int> rows;
    auto conn = platform::SqliteConnection::open(home + "data/velotrax.db");
    auto st = conn.prepare("SELECT [message] FROM [messages]");
    while (st.step()) ++rows[st.column_text(0)];
    return rows;
  }

  std::map<std::string, std::string> env() {
    return {{"VELOTRAX_REGISTRY", home + "velotrax.reg"}, {"XDG_RUNTIME_DIR", home}};
  }
};

class StopBetweenFiles : public StopTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(GatewayHome::SetUp());
    std::string unknown;
    for (int n = 0; n < 300; ++n) unknown += " nobody" + std::to_string(n);
    for (int i = 0; i < kFiles; ++i)
      write_text(home + "web/m" + std::to_string(i) + ".msg",
                 "user=bob\r\nfrm=Pat\r\nsubject=bob" + unknown + "\r\nmsg=m" + std::to_string(i) + "\r\n");
  }

  static constexpr int kFiles = 20;
};

TEST_F(StopBetweenFiles, ASigtermInTheMiddleOfAMessageFinishesItAndStartsNoOther) {
  {
    ChildProcess module({DEXWEB_BIN}, env());
    ASSERT_TRUE(wait_until([&] { return !rows_per_message().empty(); })) << module.stderr_text();
    module.signal(SIGTERM);
    ASSERT_EQ(module.wait(), 0) << module.stderr_text();
  }
  const auto rows = rows_per_message();
  ASSERT_FALSE(rows.empty());
  const int rows_of_a_message = rows.begin()->second;  // one per accepted recipient
  const auto waiting = files_in(home + "web");
  for (int i = 0; i < kFiles; ++i) {
    const std::string m = "m" + std::to_string(i);
    const bool stored = rows.contains(m);
    const bool left = std::find(waiting.begin(), waiting.end(), m + ".msg") != waiting.end();
    EXPECT_NE(stored, left) << m << " is half worked";
  }
  EXPECT_FALSE(waiting.empty()) << "the stop came too late to test anything";

  ChildProcess again({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_until([&] { return files_in(home + "web").empty(); }, 60)) << again.stderr_text();
  again.signal(SIGTERM);
  EXPECT_EQ(again.wait(), 0);
  const auto after = rows_per_message();
  EXPECT_EQ(after.size(), static_cast<std::size_t>(kFiles));
  for (const auto& [message, count] : after) EXPECT_EQ(count, rows_of_a_message) << message;
}

class StopInsideWaits : public StopTest {
 protected:
  // SIGTERM once the module has been in the message's retries for a while; its exit status
  // and log, and the seconds from the signal to its end.
  int stop_during_retries(ChildProcess& module) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    module.signal(SIGTERM);
    const auto signalled = std::chrono::steady_clock::now();
    const int status = module.wait();
    seconds_to_end = std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
    RecordProperty("seconds_from_sigterm_to_exit", std::to_string(seconds_to_end));
    log = read_text(home + "log/VTXWeb.log");
    return status;
  }

  // The message files anywhere in the watched folder, claimed ones too.
  int message_files_left() {
    int n = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home + "web"))
      n += entry.path().extension() == ".msg";
    return n;
  }

  void expect_clean_stop(int status) {
    EXPECT_EQ(status, 0) << log;
    // Well within the stop allowance of a service manager; the retries alone take minutes.
    EXPECT_LT(seconds_to_end, 10);
    EXPECT_TRUE(has(log, "  Module Stopped\r\n")) << log;
    EXPECT_FALSE(has(log, "Program Halted")) << log;
    EXPECT_EQ(message_files_left(), 1) << "the abandoned message must wait for the next run";
  }

  double seconds_to_end = 0;
  std::string log;
};

// The failure notice of a refused message cannot be written (the outgoing mail folder is a
// file): the stop comes in the notice's retries, after the message's record was committed.
// The next run makes the notice, once, and no second bad copy.
TEST_F(StopInsideWaits, ASigtermDuringTheNoticesRetriesStopsAtOnceAndTheNextRunSendsItOnce) {
  {
    auto conn = platform::SqliteConnection::open(home + "data/velotrax.db");
    conn.exec("UPDATE [settings] SET [dexmail_enabled] = 1, [domain] = 'example.org'");
  }
  write_text(home + "prog/failurenotifylist.txt", "ops@example.org\r\n");
  write_text(home + "prog/failure.mtp", "Subject: Not sent\r\n\r\n%Message%\r\n");
  std::filesystem::remove_all(home + "data/MailOut");
  write_text(home + "data/MailOut", "not a folder");
  write_text(home + "web/refused.msg", "user=nosuch\r\nfrm=Pat\r\nmsg=refused\r\n");
  {
    ChildProcess module({DEXWEB_BIN}, env());
    ASSERT_TRUE(wait_until([&] { return files_in(home + "log/badmsg").size() == 1; })) << module.stderr_text();
    expect_clean_stop(stop_during_retries(module));
  }
  {
    auto conn = platform::SqliteConnection::open(home + "data/velotrax.db");
    auto state = conn.prepare("SELECT [dexweb_state] FROM [control]");
    ASSERT_TRUE(state.step());
    EXPECT_EQ(state.column_text(0), "0") << "the stop sequence marks the module stopped";
  }
  std::filesystem::remove(home + "data/MailOut");
  std::filesystem::create_directory(home + "data/MailOut");
  ChildProcess again({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_until([&] { return message_files_left() == 0; })) << again.stderr_text();
  again.signal(SIGTERM);
  EXPECT_EQ(again.wait(), 0);
  EXPECT_EQ(files_in(home + "data/MailOut").size(), 1u);
  EXPECT_EQ(files_in(home + "log/badmsg").size(), 1u);
}

// Another program holds the database's write lock: the stop comes in the retries of the
// message's rows, which roll back. The next run stores them once.
TEST_F(StopInsideWaits, ASigtermWhileAnotherProgramHoldsTheDatabaseStopsAtOnceAndTheNextRunStoresTheRowsOnce) {
  write_text(home + "web/first.msg", "user=bob\r\nfrm=Pat\r\nmsg=first\r\n");
  ChildProcess module({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_until([&] { return rows_per_message().contains("first"); })) << module.stderr_text();
  std::optional<platform::SqliteConnection> holder(platform::SqliteConnection::open(home + "data/velotrax.db"));
  holder->exec("BEGIN EXCLUSIVE");
  write_text(home + "web/held.msg", "user=bob\r\nfrm=Pat\r\nmsg=held\r\n");
  ASSERT_TRUE(wait_until([&] { return files_in(home + "web").empty(); })) << module.stderr_text();
  expect_clean_stop(stop_during_retries(module));
  holder.reset();
  EXPECT_FALSE(rows_per_message().contains("held"));

  ChildProcess again({DEXWEB_BIN}, env());
  ASSERT_TRUE(wait_until([&] { return message_files_left() == 0; })) << again.stderr_text();
  again.signal(SIGTERM);
  EXPECT_EQ(again.wait(), 0);
  EXPECT_EQ(rows_per_message()["held"], 1);
}

}  // namespace
}  // namespace dexweb::test
