#include "platform/clock.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <string>

namespace dexweb::platform {
namespace {

SystemClock g_system_clock;
Clock* g_clock = &g_system_clock;
std::chrono::milliseconds g_server_time_offset{0};

}  // namespace

TimePoint SystemClock::now() const { return std::chrono::system_clock::now(); }

SteadyPoint SystemClock::steady_now() const { return std::chrono::steady_clock::now(); }

int SystemClock::wait(std::span<pollfd> fds, SteadyPoint deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady_now()).count();
  if (left < 0) left = 0;
  int rc = ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(left, 60'000)));
  return rc < 0 && errno == EINTR ? 0 : rc;
}

ManualClock::ManualClock(TimePoint start) : now_(start) {}

int ManualClock::wait(std::span<pollfd> fds, SteadyPoint deadline) {
  int rc = ::poll(fds.data(), fds.size(), 0);
  if (rc < 0 && errno == EINTR) rc = 0;
  if (rc != 0) return rc;
  const auto next = std::min_element(alarms_.begin(), alarms_.end(),
                                     [](const Alarm& a, const Alarm& b) { return a.due < b.due; });
  if (next != alarms_.end() && next->due <= deadline) {
    move_to(next->due);
    const std::function<void()> action = std::move(next->action);
    alarms_.erase(next);
    action();
    return 0;
  }
  move_to(deadline);
  return 0;
}

void ManualClock::at(std::chrono::milliseconds after, std::function<void()> action) {
  alarms_.push_back({steady_ + after, std::move(action)});
}

void ManualClock::move_to(SteadyPoint point) {
  if (point <= steady_) return;
  now_ += std::chrono::duration_cast<TimePoint::duration>(point - steady_);
  steady_ = point;
}

SteadyPoint steady_after(double seconds) {
  return clock().steady_now() +
         std::chrono::duration_cast<SteadyPoint::duration>(std::chrono::duration<double>(seconds));
}

Clock& clock() { return *g_clock; }

ScopedClock::ScopedClock(Clock& replacement) : replaced_(g_clock, &replacement) {}

DateTime to_local(TimePoint t) {
  using namespace std::chrono;
  std::time_t secs = system_clock::to_time_t(floor<seconds>(t));
  std::tm tm{};
  ::localtime_r(&secs, &tm);
  auto ms = duration_cast<milliseconds>(t - floor<seconds>(t));
  return make_datetime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                       tm.tm_sec) + ms;
}

TimePoint from_local(DateTime t) {
  using namespace std::chrono;
  CivilTime c = civil(t);
  std::tm tm{};
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = c.minute;
  tm.tm_sec = c.second;
  tm.tm_isdst = -1;
  return system_clock::from_time_t(::mktime(&tm)) + milliseconds{c.millisecond};
}

void set_server_time_offset(std::chrono::milliseconds offset) { g_server_time_offset = offset; }

std::chrono::milliseconds server_time_offset() { return g_server_time_offset; }

DateTime server_now() { return local_now() + g_server_time_offset; }

std::string zone_name(TimePoint t) {
  ::tzset();
  if (!::daylight) return {};
  std::time_t secs = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  ::localtime_r(&secs, &tm);
  return tm.tm_zone ? tm.tm_zone : "";
}

}  // namespace dexweb::platform
