#pragma once
// The process's single-threaded event loop: every timer, signal and watched descriptor of
// the daemon is served here, on the main thread, and only here: the loop is never entered
// from inside a timer's tick. Signals only set a flag inside the handler; the loop runs the
// registered callback on its own thread.
//
// Work below the loop that must wait (retry pauses, a writer that has not finished) waits
// through wait_unless_stopped, which serves no event: a signal that arrives meanwhile is
// noted for the loop, and a stop signal ends the wait at once.

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "platform/clock.h"

namespace dexweb::platform {

class EventLoop {
 public:
  using TimerId = int;
  using Callback = std::function<void()>;

  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // A timer fires every `interval` after it is enabled; enabling or changing the interval
  // restarts the count.
  TimerId add_timer(std::chrono::milliseconds interval, Callback tick, bool enabled = false);
  void set_enabled(TimerId id, bool enabled);
  void set_interval(TimerId id, std::chrono::milliseconds interval);
  std::chrono::milliseconds interval(TimerId id) const;
  void remove_timer(TimerId id);
  // The timer, when enabled, fires at the next round of the loop (after signals and any
  // other due timer have had their turn), then keeps its interval. A disabled timer stays
  // disabled.
  void fire_soon(TimerId id);

  // `ready` runs on the loop whenever fd has input; the caller keeps fd open until it
  // removes the reader.
  using ReaderId = int;
  ReaderId add_reader(int fd, Callback ready);
  void remove_reader(ReaderId id);

  // Installs a handler for signo whose only work is to note the signal; `action` then runs
  // on the loop. One action per signal; a later call replaces it.
  void on_signal(int signo, Callback action);
  // The same for a signal that asks the process to stop: its handler also sets the stop
  // request (stop_requested()), which ends any wait_unless_stopped at once.
  void on_stop_signal(int signo, Callback action);

  // The signal is neither acted on nor ends the process (SIGPIPE from a closed socket).
  void ignore_signal(int signo);

  // Runs events until done() holds; done is asked before each round of events.
  void run_until(const std::function<bool()>& done);

 private:
  struct Timer;
  struct Reader {
    ReaderId id;
    int fd;
    Callback ready;
  };
  void run_once(SteadyPoint deadline);
  void fire_due_timers();
  SteadyPoint next_timer_due(SteadyPoint limit) const;
  Timer* find(TimerId id);
  const Timer* find(TimerId id) const;

  std::vector<std::unique_ptr<Timer>> timers_;
  TimerId next_id_ = 1;
  std::vector<Reader> readers_;
  ReaderId next_reader_ = 1;
};

// The loop of the process.
EventLoop& event_loop();

// Whether a stop signal arrived (see on_stop_signal). Stays set for the rest of the process.
bool stop_requested();
// Forgets a stop request (tests, which run many modules in one process).
void clear_stop_request();

// The one wait of work below the loop: waits up to `seconds` on the process clock, serving
// no event. True when the time passed; false, at once, when a stop is requested before or
// during the wait. Never throws.
bool wait_unless_stopped(double seconds);

// Thrown by work that found a stop request in a wait: it abandons the work in hand (a
// message's transaction rolls back on the way) up to the loop's owner, which runs the stop
// sequence. Deliberately not a std::exception, so that no handler of ordinary errors
// swallows it on its way.
struct StopRequested {};

}  // namespace dexweb::platform
