#include "logging/error_policy.h"

#include "shell/module_fixture.h"

namespace dexweb::test {
namespace {

class ErrorPolicy : public ModuleTest {
 protected:
  // Calls the error routine with the same error until it halts; the number of the call
  // that halted, or 0.
  int calls_until_halt(int number, int limit = 100) {
    RuntimeError e(number, "Something failed");
    // As inside a tick: the poll timer is off while a step is being retried.
    platform::event_loop().set_enabled(daemon_->poll_timer, false);
    for (int call = 1; call <= limit; ++call) {
      try {
        daemon_->policy.on_error(e, "Procedure: repeat_timer");
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
  EXPECT_TRUE(daemon_->policy.db_error_halted());
  EXPECT_TRUE(daemon_->db && daemon_->db->IsOpen());
  EXPECT_EQ(scalar("SELECT [dexweb_state] FROM [control]"), "1");
  auto got = monitor_.receive_all();
  EXPECT_NE(got.back().find("|stopped|"), std::string::npos);
}

TEST_F(ErrorPolicy, FileErrorWarnsFourTimesThenHaltsAndClosesTheDatabase) {
  EXPECT_EQ(run_ticks(1), -1);
  EXPECT_EQ(calls_until_halt(53), 55);
  EXPECT_EQ(count("Warning. Unable to access file/directory: Procedure: repeat_timer. Retrying..."), 4);
  EXPECT_TRUE(logged("Program Halted. File/Directory error: 53 Something failed in Procedure: repeat_timer"));
  EXPECT_TRUE(daemon_->policy.program_halted());
  EXPECT_FALSE(daemon_->db);
  EXPECT_EQ(scalar("SELECT [dexweb_state] FROM [control]"), "1");
}

TEST_F(ErrorPolicy, PermanentDatabaseErrorsAndOtherErrorsHaltAtOnce) {
  // 3022 first, while no error came before it; error 13 halts whatever came before.
  for (const auto& [number, line] : {std::pair{3022, "Database error: 3022"}, {13, "Error# 13"}}) {
    SCOPED_TRACE(number);
    EXPECT_EQ(calls_until_halt(number), 1);
    EXPECT_TRUE(logged("Program Halted. " + std::string(line) + " Something failed in Procedure: repeat_timer"));
  }
}

TEST_F(ErrorPolicy, AFreshStartEndsTheBurst) {
  for (int i = 0; i < 5; ++i) daemon_->policy.on_error(RuntimeError(3024, "busy"), "Procedure: repeat_timer");
  EXPECT_EQ(run_ticks(1), -1);  // the tick starts afresh
  EXPECT_EQ(daemon_->policy.retry_count(), 0);
  EXPECT_EQ(calls_until_halt(3024), 12);
}

TEST_F(ErrorPolicy, WithRetryRunsTheFailedStepAgain) {
  int attempts = 0;
  int result = daemon_->policy.with_retry("Procedure: test", [&] {
    if (++attempts < 3) throw RuntimeError(3260, "locked");
    return 42;
  });
  EXPECT_EQ(result, 42);
  EXPECT_EQ(attempts, 3);
}

}  // namespace
}  // namespace dexweb::test
