#include "platform/event_loop.h"

#include <gtest/gtest.h>

#include <csignal>

namespace dexweb::platform {
namespace {

using std::chrono::milliseconds;

class EventLoopTest : public ::testing::Test {
 protected:
  ManualClock clock_{TimePoint{} + std::chrono::hours(24 * 365 * 50)};
  ScopedClock scoped_{clock_};
  EventLoop loop_;
};

TEST_F(EventLoopTest, TimersFireEveryIntervalOnlyWhileEnabled) {
  int ticks = 0;
  auto id = loop_.add_timer(milliseconds{1000}, [&] { ++ticks; }, true);
  loop_.wait_seconds(3.5);
  EXPECT_EQ(ticks, 3);
  loop_.set_enabled(id, false);
  loop_.wait_seconds(5);
  EXPECT_EQ(ticks, 3);
}

TEST_F(EventLoopTest, AStepOfTheSystemClockMovesNoTimer) {
  int ticks = 0;
  loop_.add_timer(milliseconds{1000}, [&] { ++ticks; }, true);
  clock_.set(clock_.now() - std::chrono::seconds(60));
  loop_.wait_seconds(1.5);
  EXPECT_EQ(ticks, 1);
  clock_.set(clock_.now() + std::chrono::hours(1));
  loop_.process_pending();
  EXPECT_EQ(ticks, 1);
}

TEST_F(EventLoopTest, NestedWaitServesOtherTimersButNeverReentersTheTick) {
  int outer_depth = 0, max_depth = 0, log_ticks = 0;
  EventLoop::TimerId poll = 0;
  poll = loop_.add_timer(milliseconds{100}, [&] {
    max_depth = std::max(max_depth, ++outer_depth);
    loop_.wait_seconds(5);  // the tick stays enabled on purpose
    --outer_depth;
  }, true);
  loop_.add_timer(milliseconds{1000}, [&] { ++log_ticks; }, true);
  loop_.wait_seconds(6);
  loop_.set_enabled(poll, false);
  EXPECT_EQ(max_depth, 1);
  EXPECT_GE(log_ticks, 5);
}

TEST_F(EventLoopTest, SignalActionsRunOnTheLoopNotInTheHandler) {
  bool acted = false;
  loop_.on_signal(SIGUSR1, [&] { acted = true; });
  std::raise(SIGUSR1);
  EXPECT_FALSE(acted);
  loop_.process_pending();
  EXPECT_TRUE(acted);
  std::signal(SIGUSR1, SIG_DFL);
}

TEST_F(EventLoopTest, EnablingRestartsTheInterval) {
  int ticks = 0;
  auto id = loop_.add_timer(milliseconds{1000}, [&] { ++ticks; }, false);
  clock_.advance(milliseconds{5000});
  loop_.set_enabled(id, true);
  loop_.process_pending();
  EXPECT_EQ(ticks, 0);
  loop_.wait_seconds(1.0);
  EXPECT_EQ(ticks, 1);
}

}  // namespace
}  // namespace dexweb::platform
