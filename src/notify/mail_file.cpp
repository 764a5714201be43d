#include "notify/internal/notification_parts.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "data/unique_ids.h"
#include "notify/notifications.h"
#include "platform/files.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
// Names tried for one file before the folder counts as full of them.
constexpr int kNameTries = 1000;

std::string from_line(const GatewaySettings& settings) {
  if (text::trim(settings.postmaster).empty()) return "From: velotrax@" + header_value(settings.domain);
  return "From: " + header_value(settings.postmaster);
}

void add_line(std::string& out, std::string_view line) {
  out += line;
  out += kLineEnd;
}

constexpr std::string_view kStagedSuffix = ".tmp";

}  // namespace

std::string header_value(std::string_view text) {
  const std::string_view line = text.substr(0, text.find_first_of("\r\n"));
  std::string out;
  out.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    if (byte < 0x20 || byte == 0x7F) {
      out += ' ';
    } else if (byte == 0xC2 && i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) < 0xA0) {
      // U+0080 to U+009F, two bytes in UTF-8 (the text is valid UTF-8, so the second byte
      // is a continuation byte, 0x80 or above).
      out += ' ';
      ++i;
    } else {
      out += line[i];
    }
  }
  return out;
}

bool is_mail_file_temporary(std::string_view name) {
  if (!name.starts_with(kModuleName)) return false;
  if (name.ends_with(kStagedSuffix)) return true;
  return platform::is_atomic_write_temporary(name) &&
         name.substr(0, name.rfind(kStagedSuffix)).ends_with(kStagedSuffix);
}

std::string rfc822_date(platform::TimePoint utc) {
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

std::string rfc822_date() { return rfc822_date(platform::clock().now()); }

std::string write_mail_file(const GatewaySettings& settings, std::string_view address, std::string_view text) {
  std::string name = unique_name();
  std::string content;
  add_line(content, "Message-ID: <" + unique_name() + "@" + header_value(settings.domain) + ">");
  add_line(content, "Date: " + rfc822_date());
  add_line(content, "X-WRTo: " + header_value(address));
  add_line(content, "To: " + header_value(address));
  add_line(content, from_line(settings));
  add_line(content, text);

  // The sequence of unique_name starts again with every run, so its name may belong to a
  // file that the mail module has not sent yet.
  const std::string staged = settings.mail_out_dir + name + std::string(kStagedSuffix);
  platform::write_file_atomic(staged, content);
  try {
    for (int attempt = 1;; ++attempt) {
      const std::string path = settings.mail_out_dir + name + ".msg";
      if (platform::rename_no_replace(staged, path)) return path;
      if (attempt == kNameTries) platform::raise_file_error(EEXIST, "no free name for " + path);
      name = unique_name();
    }
  } catch (...) {
    platform::remove_file(staged);
    throw;
  }
}

}  // namespace dexweb
