#pragma once
// Date-time values of the module: local wall-clock time (the module's dates are never UTC
// unless a name says so), with millisecond resolution. The text form used in log lines,
// datagrams and SQL literals is "yyyy-mm-dd hh:nn:ss" everywhere.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace dexweb {

using DateTime = std::chrono::local_time<std::chrono::milliseconds>;
using Seconds = std::chrono::duration<double>;

// "yyyy-mm-dd hh:nn:ss", with separator between date and time.
std::string format_datetime(DateTime t, char separator = ' ');
// "yyyymmddhhnnss", the stamp inside unique names.
std::string format_compact(DateTime t);
// Reads "yyyy-mm-dd", "yyyy-mm-dd hh:nn[:ss[.fff]]" (a 'T' may stand for the blank);
// nullopt for anything else.
std::optional<DateTime> parse_datetime(std::string_view s);

struct CivilTime {
  int year, month, day, hour, minute, second, millisecond;
};
CivilTime civil(DateTime t);
DateTime make_datetime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

}  // namespace dexweb
