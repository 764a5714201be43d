#pragma once
// The process's single-threaded event loop: every timer, signal and watched descriptor of
// the daemon is served here, on the main thread.
// Timers fire on the loop's thread; a disabled timer never fires and a timer whose tick is
// still running is not fired again from a nested wait. Signals only set a flag inside the
// handler; the loop runs the registered callback on its own thread.
//
// process_pending() lets whatever is due now run; nothing blocks.
// It costs no system call unless a signal was noted or a timer is due, so it may be called
// often. wait_seconds() keeps running due events until its time is up, so a wait inside a
// timer tick still lets other timers and signals be served. Readers (descriptors watched
// for input) are served by the loop's waits, not by process_pending().

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

  // The signal is neither acted on nor ends the process (SIGPIPE from a closed socket).
  void ignore_signal(int signo);

  // Runs what is due now without blocking.
  void process_pending();
  // Runs due events until `seconds` have passed on the process clock's steady time.
  void wait_seconds(double seconds);
  // Runs events until done() holds; done is asked after each round of events.
  void run_until(const std::function<bool()>& done);

 private:
  struct Timer;
  struct Reader {
    ReaderId id;
    int fd;
    Callback ready;
  };
  void run_once(SteadyPoint deadline);
  bool anything_due() const;
  void fire_due_timers();
  void drain_signals();
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

// Shorthands on the process's loop, named as the rest of the module knows them.
inline void process_pending() { event_loop().process_pending(); }
inline void wait_seconds(double seconds) { event_loop().wait_seconds(seconds); }

}  // namespace dexweb::platform
