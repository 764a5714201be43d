#include "platform/event_loop.h"

#include <gtest/gtest.h>

#include <csignal>

namespace dexweb::platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

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

TEST_F(EventLoopTest, TimersFireEveryIntervalOnlyWhileEnabled) {
  int ticks = 0;
  auto id = loop_.add_timer(milliseconds{1000}, [&] { ++ticks; }, true);
  run_for(milliseconds{3500});
  EXPECT_EQ(ticks, 3);
  loop_.set_enabled(id, false);
  run_for(seconds{5});
  EXPECT_EQ(ticks, 3);
  // Enabling restarts the interval.
  clock_.advance(seconds{5});
  loop_.set_enabled(id, true);
  run_for(milliseconds{999});
  EXPECT_EQ(ticks, 3);
  run_for(milliseconds{1});
  EXPECT_EQ(ticks, 4);
}

TEST_F(EventLoopTest, AStepOfTheSystemClockMovesNoTimer) {
  int ticks = 0;
  loop_.add_timer(milliseconds{1000}, [&] { ++ticks; }, true);
  clock_.set(clock_.now() - seconds(60));
  run_for(milliseconds{1500});
  EXPECT_EQ(ticks, 1);
  clock_.set(clock_.now() + std::chrono::hours(1));
  run_for(milliseconds{1});
  EXPECT_EQ(ticks, 1);
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

}  // namespace
}  // namespace dexweb::platform
