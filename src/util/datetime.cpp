#include "util/datetime.h"

#include <cstdio>
#include <cstdlib>

namespace dexweb {

using namespace std::chrono;

CivilTime civil(DateTime t) {
  auto date = floor<days>(t);
  year_month_day ymd{date};
  hh_mm_ss hms{t - date};
  return {int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day())),
          int(hms.hours().count()), int(hms.minutes().count()), int(hms.seconds().count()),
          int(hms.subseconds().count())};
}

DateTime make_datetime(int y, int mo, int d, int h, int mi, int s) {
  local_days date{year{y} / month{unsigned(mo)} / day{unsigned(d)}};
  return DateTime{date} + hours{h} + minutes{mi} + seconds{s};
}

std::string format_datetime(DateTime t) {
  CivilTime c = civil(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                c.minute, c.second);
  return buf;
}

std::string format_compact(DateTime t) {
  CivilTime c = civil(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", c.year, c.month, c.day, c.hour,
                c.minute, c.second);
  return buf;
}

std::optional<DateTime> parse_datetime(std::string_view s) {
  std::string t(s);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, ms = 0;
  char sep = ' ';
  int n = std::sscanf(t.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &mo, &d, &sep, &h, &mi, &sec);
  if (n != 3 && n != 6 && n != 7) return std::nullopt;
  if (n > 3 && sep != ' ' && sep != 'T') return std::nullopt;
  auto dot = t.find('.', 10);
  if (n == 7 && dot != std::string::npos) {
    std::string frac = (t.substr(dot + 1) + "000").substr(0, 3);
    ms = std::atoi(frac.c_str());
  }
  year_month_day ymd{year{y}, month{unsigned(mo)}, day{unsigned(d)}};
  if (!ymd.ok() || h > 23 || mi > 59 || sec > 59) return std::nullopt;
  return make_datetime(y, mo, d, h, mi, sec) + milliseconds{ms};
}

}  // namespace dexweb
