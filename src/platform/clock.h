#pragma once
// The one clock of the process (process-wide by design). Every time read and every wait of
// the module goes through it, so that tests can replace it with a manual clock on which a
// 300-second pause passes in microseconds. Intervals (timers, waits, budgets) run on the
// steady time, which a step of the system clock does not move; the wall time is only for
// time stamps and the gateway's clock.

#include <poll.h>

#include <chrono>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "util/datetime.h"
#include "util/scoped_pointer.h"

namespace dexweb::platform {

using TimePoint = std::chrono::system_clock::time_point;
using SteadyPoint = std::chrono::steady_clock::time_point;

class Clock {
 public:
  virtual ~Clock() = default;
  // Current UTC time (wall clock).
  virtual TimePoint now() const = 0;
  // Monotonic time, for intervals only.
  virtual SteadyPoint steady_now() const = 0;
  // Blocks until the steady deadline passes or one of fds is ready, as poll(2) does, and
  // returns poll's result (0 when the deadline came first). EINTR counts as 0.
  virtual int wait(std::span<pollfd> fds, SteadyPoint deadline) = 0;
};

// The system's clocks: waits really wait.
class SystemClock final : public Clock {
 public:
  TimePoint now() const override;
  SteadyPoint steady_now() const override;
  int wait(std::span<pollfd> fds, SteadyPoint deadline) override;
};

// A clock that only moves when told to or when a wait would block: a wait that finds no
// ready descriptor jumps straight to its deadline, or to the next alarm before it. advance
// moves both times; set moves the wall time alone, as an operator's or NTP's step of the
// system clock does.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(TimePoint start);
  TimePoint now() const override { return now_; }
  SteadyPoint steady_now() const override { return steady_; }
  int wait(std::span<pollfd> fds, SteadyPoint deadline) override;
  void advance(std::chrono::milliseconds d) {
    now_ += d;
    steady_ += d;
  }
  void set(TimePoint t) { now_ = t; }
  // Runs action once, when a wait carries the steady time `after` past now: what another
  // program does while the module waits. The wait then returns 0 early.
  void at(std::chrono::milliseconds after, std::function<void()> action);

 private:
  struct Alarm {
    SteadyPoint due;
    std::function<void()> action;
  };
  void move_to(SteadyPoint point);

  TimePoint now_;
  SteadyPoint steady_{};
  std::vector<Alarm> alarms_;
};

// steady_now() + seconds.
SteadyPoint steady_after(double seconds);

// The process's clock (a SystemClock until replaced).
Clock& clock();
// Replaces the process's clock for the lifetime of the guard (tests).
class ScopedClock {
 public:
  explicit ScopedClock(Clock& replacement);

 private:
  ScopedPointer<Clock> replaced_;
};

// Local wall-clock time of a UTC time point, through the C library's time zone.
DateTime to_local(TimePoint t);
// The inverse of to_local (for a local time that exists).
TimePoint from_local(DateTime t);
// Local wall-clock time now.
inline DateTime local_now() { return to_local(clock().now()); }
// The gateway's time, process-wide beside the clock: local time plus the offset from the
// gateway's clock (the database server's, when the module aligns on it). Every time stamp of
// the module is server_now().
void set_server_time_offset(std::chrono::milliseconds offset);
std::chrono::milliseconds server_time_offset();
DateTime server_now();

// The C library's zone abbreviation in effect at t; empty when the zone has no daylight time.
std::string zone_name(TimePoint t);

}  // namespace dexweb::platform
