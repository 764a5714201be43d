#include "platform/event_loop.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
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

extern "C" void note_signal(int signo) {
  int saved = errno;
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
    tick();
    if (Timer* again = find(t->id)) again->running = false;
  }
}

void EventLoop::run_once(SteadyPoint deadline) {
  std::vector<pollfd> fds{{signal_pipe().read_end.get(), POLLIN, 0}};
  if (clock().wait(fds, next_timer_due(deadline)) > 0 && fds[0].revents) drain_signals();
  fire_due_timers();
}

void EventLoop::process_pending() { run_once(clock().steady_now()); }

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
