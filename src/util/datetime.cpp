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

namespace {

// value as width digits, zero-padded; value lies in 0 .. 10^width - 1.
char* put_digits(char* p, int value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) p[i] = static_cast<char>('0' + value % 10);
  return p + width;
}

// The six fields of t as "%04d" and five "%02d", each after its separator (none where it is
// '\0'), written digit by digit: rows, names and log lines stamp several times a message.
std::string format_fields(DateTime t, const char (&separators)[6]) {
  const CivilTime c = civil(t);
  char buf[32];
  char* p = c.year >= 0 && c.year <= 9999 ? put_digits(buf, c.year, 4)
                                          : buf + std::snprintf(buf, sizeof buf, "%04d", c.year);
  const int two_digit_fields[5] = {c.month, c.day, c.hour, c.minute, c.second};
  for (int i = 0; i < 5; ++i) {
    if (separators[i + 1] != '\0') *p++ = separators[i + 1];
    p = put_digits(p, two_digit_fields[i], 2);
  }
  return std::string(buf, p);
}

}  // namespace

std::string format_datetime(DateTime t, char separator) { return format_fields(t, {'\0', '-', '-', separator, ':', ':'}); }

std::string format_compact(DateTime t) { return format_fields(t, {}); }

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
