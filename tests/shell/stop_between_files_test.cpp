// A stop asked for while a message is being worked ends the run between two files: every
// file is either worked whole (its rows stored and the file gone) or not started, so a
// restart pages nobody twice.
#include <gtest/gtest.h>

#include <signal.h>

#include <map>

#include "platform/sqlite_db.h"
#include "support/child_process.h"
#include "support/ctl_runner.h"
#include "support/temp_dir.h"

namespace dexweb::test {
namespace {

class StopBetweenFiles : public GatewayHome {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(GatewayHome::SetUp());
    std::string unknown;
    for (int n = 0; n < 300; ++n) unknown += " nobody" + std::to_string(n);
    for (int i = 0; i < kFiles; ++i)
      write_text(home + "web/m" + std::to_string(i) + ".msg",
                 "user=bob\r\nfrm=Pat\r\nsubject=bob" + unknown + "\r\nmsg=m" + std::to_string(i) + "\r\n");
  }

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

}  // namespace
}  // namespace dexweb::test
