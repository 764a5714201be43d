#include "notify/mail_file.h"

#include <array>
#include <chrono>
#include <cstdio>

#include "data/unique_ids.h"
#include "platform/files.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::string from_line(const GatewaySettings& settings) {
  if (text::trim(settings.postmaster).empty()) return "From: velotrax@" + settings.domain;
  return "From: " + settings.postmaster;
}

void add_line(std::string& out, std::string_view line) {
  out += line;
  out += kLineEnd;
}

}  // namespace

std::string Rfc822Date(platform::TimePoint utc) {
  using namespace std::chrono;
  static constexpr std::array<const char*, 7> kDays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  auto day = floor<days>(utc);
  year_month_day ymd{day};
  hh_mm_ss hms{floor<seconds>(utc - day)};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s, %02u %s %04d %02d:%02d:%02d +0000", kDays[weekday{day}.c_encoding()],
                unsigned(ymd.day()), kMonths[unsigned(ymd.month()) - 1], int(ymd.year()),
                int(hms.hours().count()), int(hms.minutes().count()), int(hms.seconds().count()));
  return buf;
}

std::string Rfc822Date() { return Rfc822Date(platform::clock().now()); }

std::string write_mail_file(const GatewaySettings& settings, std::string_view address, std::string_view text) {
  const std::string path = settings.MailOutDir + UniqueName() + ".msg";
  std::string content;
  add_line(content, "Message-ID: <" + UniqueName() + "@" + settings.domain + ">");
  add_line(content, "Date: " + Rfc822Date());
  add_line(content, "X-WRTo: " + std::string(address));
  add_line(content, "To: " + std::string(address));
  add_line(content, from_line(settings));
  add_line(content, text);
  platform::write_file_atomic(path, content);
  return path;
}

}  // namespace dexweb
