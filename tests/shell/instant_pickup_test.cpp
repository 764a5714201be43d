// When the poll cycle polls: on the real event loop with a real folder watch, a manual clock
// telling how far the loop's timers had to run before a poll came.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/module_fixture.h"

namespace dexweb::test {
namespace {

using std::chrono::seconds;

class InstantPickup : public ModuleTest {
 protected:
  struct PollSeen {
    platform::SteadyPoint at;
    std::vector<std::string> names;
  };

  void SetUp() override {
    ModuleTest::SetUp();
    exec("UPDATE [settings] SET [dexwebcgi_path] = '" + web_.dir() + "'");
    // Takes every message file there is, as a poll with room for all of them would.
    poll_ = [this](Daemon&) {
      PollSeen seen{clock_.steady_now(), {}};
      for (const auto& entry : std::filesystem::directory_iterator(web_.dir())) {
        seen.names.push_back(entry.path().filename().string());
        std::filesystem::remove(entry.path());
      }
      polls_.push_back(seen);
      if (on_poll_) on_poll_();
      return !seen.names.empty();
    };
  }

  // Turns the process's loop with the poll timer on until done() holds or two minutes of
  // the manual clock have passed.
  void run_until(const std::function<bool()>& done) {
    daemon_->enable_poll_timer();
    const platform::SteadyPoint give_up = clock_.steady_now() + std::chrono::minutes(2);
    platform::event_loop().run_until([&] { return done() || clock_.steady_now() >= give_up; });
  }

  // Written beside the folder, then renamed in, as the web form's writers do.
  void land(const std::string& name) {
    write_text(beside_.file(name + ".part"), "user=sales\r\nmsg=hi\r\n");
    ASSERT_EQ(std::rename(beside_.file(name + ".part").c_str(), web_.file(name).c_str()), 0);
  }

  TempDir web_;
  TempDir beside_;
  std::vector<PollSeen> polls_;
  std::function<void()> on_poll_;
};

TEST_F(InstantPickup, AFileRenamedIntoAnIdleModulesFolderIsPolledWithoutWaitingForThePollInterval) {
  run_until([&] { return polls_.size() == 1; });
  const platform::SteadyPoint idle_since = clock_.steady_now();
  land("a.msg");
  run_until([&] { return polls_.size() == 2; });
  ASSERT_EQ(polls_.size(), 2u);
  EXPECT_EQ(polls_[1].names, std::vector<std::string>{"a.msg"});
  // dexweb_poll is 60 s: the timer alone would have polled a minute later.
  EXPECT_LT(polls_[1].at - idle_since, seconds(60));
}

TEST_F(InstantPickup, ABurstOfFiftyFilesStartsFewPollsNotFifty) {
  run_until([&] { return polls_.size() == 1; });
  for (int i = 0; i < 50; ++i) land("burst" + std::to_string(i) + ".msg");
  const std::size_t before = polls_.size();
  const platform::SteadyPoint landed = clock_.steady_now();
  // Long enough for every notice to be served, short of the next interval poll.
  run_until([&] { return clock_.steady_now() - landed >= seconds(30); });
  ASSERT_GE(polls_.size(), before + 1);
  EXPECT_EQ(polls_[before].names.size(), 50u);
  EXPECT_LE(polls_.size() - before, 3u);
}

TEST_F(InstantPickup, PollsFollowEachOtherWhileFilesKeepComingAndTheRefreshKeepsItsCadence) {
  // Every poll finds files and its work takes 0.4 s.
  poll_ = [this](Daemon&) {
    polls_.push_back({clock_.steady_now(), {"x.msg"}});
    clock_.advance(std::chrono::milliseconds(400));
    return true;
  };
  const platform::SteadyPoint start = clock_.steady_now();
  run_until([&] { return polls_.size() == 30; });
  ASSERT_EQ(polls_.size(), 30u);
  // One poll per one-second tick would have needed 30 s.
  EXPECT_LT(clock_.steady_now() - start, seconds(20));
  // About 12 s of work: the settings were read at the start and every 3 s since.
  const auto reports = monitor_.receive_all();
  EXPECT_GE(std::count_if(reports.begin(), reports.end(), [](auto& d) { return d.find("|running|") != std::string::npos; }), 4);
}

TEST_F(InstantPickup, SwitchedOffTheTimerAloneDecidesAsBefore) {
  settings_.Instant_Pickup = false;
  start_daemon();

  // Files remaining: one poll per one-second tick.
  int remaining = 3;
  poll_ = [&](Daemon&) {
    polls_.push_back({clock_.steady_now(), {}});
    return remaining-- > 0;
  };
  run_until([&] { return polls_.size() == 5; });
  ASSERT_EQ(polls_.size(), 5u);
  for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(polls_[i].at - polls_[i - 1].at, seconds(1)) << i;
  // Then nothing until dexweb_poll (60 s) has passed, whatever lands meanwhile.
  EXPECT_EQ(polls_[4].at - polls_[3].at, seconds(60));
  const std::size_t before = polls_.size();
  land("late.msg");
  const platform::SteadyPoint landed = clock_.steady_now();
  run_until([&] { return polls_.size() > before; });
  ASSERT_GT(polls_.size(), before);
  EXPECT_GE(polls_[before].at - landed, seconds(55));
}

}  // namespace
}  // namespace dexweb::test
