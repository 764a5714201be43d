#include "platform/event_loop.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cerrno>

#include "platform/files.h"

namespace dexweb::platform {
namespace {

// The process's signal state: the self-pipe that carries signal numbers from handlers to
// the loop, the actions, the signals taken from the pipe but not yet acted on (a wait below
// the loop takes them so that the pipe does not keep waking it), and the stop request.
struct SignalPipe {
  Fd read_end, write_end;
  std::array<EventLoop::Callback, NSIG> actions;
  std::array<bool, NSIG> noted{};
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
// Set by a stop signal's handler; read by every wait below the loop.
std::atomic<bool> g_stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void note_signal(int signo) {
  int saved = errno;
  unsigned char b = static_cast<unsigned char>(signo);
  if (g_signal_write_fd >= 0) [[maybe_unused]] auto r = ::write(g_signal_write_fd, &b, 1);
  errno = saved;
}

extern "C" void note_stop_signal(int signo) {
  g_stop_requested.store(true, std::memory_order_relaxed);
  note_signal(signo);
}

void install_handler(int signo, EventLoop::Callback action, void (*handler)(int)) {
  SignalPipe& p = signal_pipe();
  g_signal_write_fd = p.write_end.get();
  p.actions[signo] = std::move(action);
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(signo, &sa, nullptr);
}

// Moves the signal numbers waiting in the pipe into `noted`.
void take_signals() {
  SignalPipe& p = signal_pipe();
  unsigned char buf[64];
  ssize_t n;
  while ((n = ::read(p.read_end.get(), buf, sizeof buf)) > 0)
    for (ssize_t i = 0; i < n; ++i) p.noted[buf[i]] = true;
}

bool any_noted() {
  const auto& noted = signal_pipe().noted;
  return std::find(noted.begin(), noted.end(), true) != noted.end();
}

void act_on_signals() {
  SignalPipe& p = signal_pipe();
  for (std::size_t signo = 0; signo < p.noted.size(); ++signo)
    if (std::exchange(p.noted[signo], false) && p.actions[signo]) p.actions[signo]();
}

}  // namespace

struct EventLoop::Timer {
  TimerId id;
  std::chrono::milliseconds interval;
  Callback tick;
  bool enabled;
  SteadyPoint due;
};

EventLoop::EventLoop() = default;
EventLoop::~EventLoop() = default;

EventLoop::TimerId EventLoop::add_timer(std::chrono::milliseconds interval, Callback tick, bool enabled) {
  timers_.push_back(std::make_unique<Timer>(Timer{next_id_++, interval, std::move(tick), enabled,
                                                  clock().steady_now() + interval}));
  return timers_.back()->id;
}

EventLoop::Timer* EventLoop::find(TimerId id) {
  for (auto& t : timers_)
    if (t->id == id) return t.get();
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
  std::erase_if(timers_, [id](const auto& t) { return t->id == id; });
}

void EventLoop::fire_soon(TimerId id) {
  if (Timer* t = find(id); t && t->enabled) t->due = clock().steady_now();
}

EventLoop::ReaderId EventLoop::add_reader(int fd, Callback ready) {
  readers_.push_back(Reader{next_reader_, fd, std::move(ready)});
  return next_reader_++;
}

void EventLoop::remove_reader(ReaderId id) {
  std::erase_if(readers_, [id](const Reader& r) { return r.id == id; });
}

void EventLoop::on_signal(int signo, Callback action) { install_handler(signo, std::move(action), note_signal); }

void EventLoop::on_stop_signal(int signo, Callback action) {
  install_handler(signo, std::move(action), note_stop_signal);
}

void EventLoop::ignore_signal(int signo) { std::signal(signo, SIG_IGN); }

SteadyPoint EventLoop::next_timer_due(SteadyPoint limit) const {
  SteadyPoint next = limit;
  for (const auto& t : timers_)
    if (t->enabled && t->due < next) next = t->due;
  return next;
}

// A tick may add, remove or reschedule timers: the due ones are chosen first and looked up
// again, by id, before each fires.
void EventLoop::fire_due_timers() {
  std::vector<TimerId> due;
  for (const auto& t : timers_)
    if (t->enabled && t->due <= clock().steady_now()) due.push_back(t->id);
  for (TimerId id : due) {
    Timer* t = find(id);
    if (!t || !t->enabled || t->due > clock().steady_now()) continue;
    t->due = clock().steady_now() + t->interval;
    Callback tick = t->tick;  // the tick may remove its own timer
    tick();
  }
}

void EventLoop::run_once(SteadyPoint deadline) {
  std::vector<pollfd> fds{{signal_pipe().read_end.get(), POLLIN, 0}};
  for (const Reader& r : readers_) fds.push_back({r.fd, POLLIN, 0});
  // Signals a wait below the loop took from the pipe are acted on without blocking.
  const SteadyPoint until = any_noted() ? clock().steady_now() : next_timer_due(deadline);
  std::vector<ReaderId> ready;
  if (clock().wait(fds, until) > 0) {
    if (fds[0].revents) take_signals();
    for (std::size_t i = 1; i < fds.size(); ++i)
      if (fds[i].revents) ready.push_back(readers_[i - 1].id);
  }
  act_on_signals();
  // A reader's callback may add or remove readers: the walk goes by id.
  for (ReaderId id : ready)
    for (const Reader& r : readers_)
      if (r.id == id) {
        Callback callback = r.ready;
        callback();
        break;
      }
  fire_due_timers();
}

void EventLoop::run_until(const std::function<bool()>& done) {
  while (!done()) run_once(clock().steady_now() + std::chrono::seconds(60));
}

EventLoop& event_loop() {
  static EventLoop loop;
  return loop;
}

bool stop_requested() { return g_stop_requested.load(std::memory_order_relaxed); }

void clear_stop_request() { g_stop_requested.store(false, std::memory_order_relaxed); }

bool wait_unless_stopped(double seconds) {
  const SteadyPoint until = steady_after(seconds);
  for (;;) {
    if (stop_requested()) return false;
    if (clock().steady_now() >= until) return true;
    pollfd signals{signal_pipe().read_end.get(), POLLIN, 0};
    if (clock().wait({&signals, 1}, until) > 0) take_signals();
  }
}

}  // namespace dexweb::platform
