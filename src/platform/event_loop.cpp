#include "platform/event_loop.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cerrno>

#include "platform/fd.h"

namespace dexweb::platform {
namespace {

// The self-pipe that carries signal numbers from handlers to the loop.
struct SignalPipe {
  Fd read_end, write_end;
  std::array<EventLoop::Callback, NSIG> actions;
  SignalPipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
      read_end = Fd(fds[0]);
      write_end = Fd(fds[1]);
    }
  }
};

SignalPipe& signal_pipe() {
  static SignalPipe pipe;
  return pipe;
}

int g_signal_write_fd = -1;
// Set by the handler next to the pipe write, so that the loop knows without a system call
// whether the pipe holds anything.
std::atomic<bool> g_signal_noted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void note_signal(int signo) {
  int saved = errno;
  g_signal_noted.store(true, std::memory_order_relaxed);
  unsigned char b = static_cast<unsigned char>(signo);
  if (g_signal_write_fd >= 0) [[maybe_unused]] auto r = ::write(g_signal_write_fd, &b, 1);
  errno = saved;
}

}  // namespace

struct EventLoop::Timer {
  TimerId id;
  std::chrono::milliseconds interval;
  Callback tick;
  bool enabled;
  bool running = false;
  SteadyPoint due;
};

EventLoop::EventLoop() = default;
EventLoop::~EventLoop() = default;

EventLoop::TimerId EventLoop::add_timer(std::chrono::milliseconds interval, Callback tick, bool enabled) {
  auto t = std::make_unique<Timer>(Timer{next_id_++, interval, std::move(tick), enabled, false,
                                         clock().steady_now() + interval});
  timers_.push_back(std::move(t));
  return timers_.back()->id;
}

EventLoop::Timer* EventLoop::find(TimerId id) {
  for (auto& t : timers_)
    if (t && t->id == id) return t.get();
  return nullptr;
}

const EventLoop::Timer* EventLoop::find(TimerId id) const {
  return const_cast<EventLoop*>(this)->find(id);
}

void EventLoop::set_enabled(TimerId id, bool enabled) {
  if (Timer* t = find(id)) {
    if (enabled && !t->enabled) t->due = clock().steady_now() + t->interval;
    t->enabled = enabled;
  }
}

void EventLoop::set_interval(TimerId id, std::chrono::milliseconds interval) {
  if (Timer* t = find(id)) {
    t->interval = interval;
    t->due = clock().steady_now() + interval;
  }
}

std::chrono::milliseconds EventLoop::interval(TimerId id) const {
  const Timer* t = find(id);
  return t ? t->interval : std::chrono::milliseconds{0};
}

void EventLoop::remove_timer(TimerId id) {
  // Deferred: the slot is emptied, never erased, so a tick that removes a timer while the
  // loop walks the list does not invalidate the walk.
  for (auto& t : timers_)
    if (t && t->id == id) {
      t->enabled = false;
      t->tick = nullptr;
    }
}

void EventLoop::fire_soon(TimerId id) {
  if (Timer* t = find(id); t && t->enabled) t->due = clock().steady_now();
}

EventLoop::ReaderId EventLoop::add_reader(int fd, Callback ready) {
  readers_.push_back(Reader{next_reader_, fd, std::move(ready)});
  return next_reader_++;
}

void EventLoop::remove_reader(ReaderId id) {
  // Emptied, not erased, for the same reason as timers.
  for (Reader& r : readers_)
    if (r.id == id) {
      r.fd = -1;
      r.ready = nullptr;
    }
}

void EventLoop::on_signal(int signo, Callback action) {
  SignalPipe& p = signal_pipe();
  g_signal_write_fd = p.write_end.get();
  p.actions[signo] = std::move(action);
  struct sigaction sa {};
  sa.sa_handler = note_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(signo, &sa, nullptr);
}

void EventLoop::ignore_signal(int signo) { std::signal(signo, SIG_IGN); }

void EventLoop::drain_signals() {
  SignalPipe& p = signal_pipe();
  unsigned char buf[64];
  ssize_t n;
  g_signal_noted.store(false, std::memory_order_relaxed);
  while ((n = ::read(p.read_end.get(), buf, sizeof buf)) > 0)
    for (ssize_t i = 0; i < n; ++i)
      if (auto& action = p.actions[buf[i]]) action();
}

SteadyPoint EventLoop::next_timer_due(SteadyPoint limit) const {
  SteadyPoint next = limit;
  for (const auto& t : timers_)
    if (t && t->enabled && !t->running && t->tick && t->due < next) next = t->due;
  return next;
}

void EventLoop::fire_due_timers() {
  for (std::size_t i = 0; i < timers_.size(); ++i) {
    Timer* t = timers_[i].get();
    if (!t || !t->enabled || t->running || !t->tick || t->due > clock().steady_now()) continue;
    t->due = clock().steady_now() + t->interval;
    t->running = true;
    Callback tick = t->tick;  // the tick may replace or remove its own timer
    const TimerId id = t->id;
    try {
      tick();
    } catch (...) {
      // A tick that ends the run (a halt) leaves the timer as usable as one that returned.
      if (Timer* again = find(id)) again->running = false;
      throw;
    }
    if (Timer* again = find(id)) again->running = false;
  }
}

void EventLoop::run_once(SteadyPoint deadline) {
  std::erase_if(readers_, [](const Reader& r) { return r.fd < 0; });
  std::vector<pollfd> fds{{signal_pipe().read_end.get(), POLLIN, 0}};
  for (const Reader& r : readers_) fds.push_back({r.fd, POLLIN, 0});
  if (clock().wait(fds, next_timer_due(deadline)) > 0) {
    if (fds[0].revents) drain_signals();
    // A reader's callback may add or remove readers: the walk goes by id.
    std::vector<ReaderId> ready;
    for (std::size_t i = 1; i < fds.size(); ++i)
      if (fds[i].revents) ready.push_back(readers_[i - 1].id);
    for (ReaderId id : ready)
      for (std::size_t i = 0; i < readers_.size(); ++i)
        if (readers_[i].id == id && readers_[i].ready) {
          Callback callback = readers_[i].ready;
          callback();
          break;
        }
  }
  fire_due_timers();
}

bool EventLoop::anything_due() const {
  return g_signal_noted.load(std::memory_order_relaxed) ||
         next_timer_due(SteadyPoint::max()) <= clock().steady_now();
}

void EventLoop::process_pending() {
  if (anything_due()) run_once(clock().steady_now());
}

void EventLoop::wait_seconds(double seconds) {
  const SteadyPoint until = steady_after(seconds);
  process_pending();
  while (clock().steady_now() < until) run_once(until);
  process_pending();
}

void EventLoop::run_until(const std::function<bool()>& done) {
  while (!done()) run_once(clock().steady_now() + std::chrono::seconds(60));
}

EventLoop& event_loop() {
  static EventLoop loop;
  return loop;
}

}  // namespace dexweb::platform
