#include "notify/template_expansion.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "notify/internal/notification_parts.h"
#include "platform/clock.h"
#include "util/text.h"

namespace dexweb {
namespace {

using Fields = NotificationFields;

// The text that replaces a placeholder; nullopt leaves it in place.
using Value = std::optional<std::string> (*)(const Fields&);

struct Placeholder {
  std::string_view token;
  Value value;
};

template <std::string UserColumns::*Column>
std::optional<std::string> user_column(const Fields& f) {
  if (!f.user) return std::nullopt;
  return (*f.user).*Column;
}

// m/d/yyyy, e.g. 12/4/2026.
std::string short_date(DateTime t) {
  CivilTime c = civil(t);
  return std::to_string(c.month) + "/" + std::to_string(c.day) + "/" + std::to_string(c.year);
}

// hhnn on the 24-hour clock, e.g. 1914.
std::string military_time(DateTime t) {
  CivilTime c = civil(t);
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d%02d", c.hour, c.minute);
  return buf;
}

// The first character of a zone name.
std::string zone_initial(std::string_view zone) { return text::left(zone, 1); }

std::optional<std::string> now_date(const Fields&) { return short_date(platform::server_now()); }
std::optional<std::string> now_time(const Fields&) { return twelve_hour_time(platform::server_now()); }
std::optional<std::string> now_military(const Fields&) { return military_time(platform::server_now()); }
std::string current_zone() { return platform::zone_name(platform::clock().now()); }

constexpr std::array<Placeholder, 19> kPlaceholders{{
    {"%Message%", [](const Fields& f) -> std::optional<std::string> { return f.message; }},
    {"%ErrorMessage%", [](const Fields& f) -> std::optional<std::string> { return f.error_message; }},
    {"%Sender%", [](const Fields& f) -> std::optional<std::string> { return f.sender; }},
    {"%Recipient%", [](const Fields& f) -> std::optional<std::string> { return f.recipient; }},
    {"%OriginalRecipient%", [](const Fields& f) -> std::optional<std::string> { return f.recipient; }},
    {"%LastRecipient%", [](const Fields& f) -> std::optional<std::string> { return f.recipient; }},
    {"%FullName%", user_column<&UserColumns::full_name>},
    {"%Comment1%", user_column<&UserColumns::extra1>},
    {"%Comment2%", user_column<&UserColumns::extra2>},
    {"%Comment3%", user_column<&UserColumns::extra3>},
    {"%Comment4%", user_column<&UserColumns::extra4>},
    {"%Date%", now_date},
    {"%Time%", now_time},
    {"%RequestedDate%", now_date},
    {"%RequestedTime%", now_time},
    {"%MilitaryTime%", now_military},
    {"%RequestedMilitaryTime%", now_military},
    {"%TimeZone%", [](const Fields&) -> std::optional<std::string> { return zone_capitals(current_zone()); }},
    {"%ShortTimeZone%", [](const Fields&) -> std::optional<std::string> { return zone_initial(current_zone()); }},
}};
constexpr std::string_view kNotifyAddress = "%NotifyAddress%";
constexpr std::string_view kTabBlanks = "       ";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

// The names are ASCII, and no other character folds to an ASCII letter, so comparing bytes
// ASCII-wise is comparing without regard to case.
bool token_at(std::string_view text, std::size_t pos, std::string_view token) {
  if (text.size() - pos < token.size()) return false;
  for (std::size_t i = 0; i < token.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(text[pos + i]) != lower(token[i])) return false;
  }
  return true;
}

// Every name begins and ends with "%", so at most one of them matches at a place.
const Placeholder* placeholder_at(std::string_view text, std::size_t pos) {
  for (const Placeholder& p : kPlaceholders) {
    if (token_at(text, pos, p.token)) return &p;
  }
  return nullptr;
}

std::string placed(std::string_view value, bool in_header) {
  std::string text = text::replace_all(value, "\t", kTabBlanks);
  return in_header ? header_value(text) : text;
}

}  // namespace

ExpandedTemplate expand_template(std::string_view text, const NotificationFields& fields) {
  ExpandedTemplate out;
  const std::size_t header_end = std::min(text.find(kHeaderEnd), text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    std::string& piece = out.pieces_.back();
    const Placeholder* p = text[pos] == '%' ? placeholder_at(text, pos) : nullptr;
    if (p) {
      auto value = p->value(fields);
      piece += value ? placed(*value, pos < header_end) : std::string(text.substr(pos, p->token.size()));
      pos += p->token.size();
    } else if (text[pos] == '%' && token_at(text, pos, kNotifyAddress)) {
      out.pieces_.emplace_back();
      pos += kNotifyAddress.size();
    } else if (text[pos] == '\t') {
      piece += kTabBlanks;
      ++pos;
    } else {
      piece += text[pos++];
    }
  }
  return out;
}

std::string ExpandedTemplate::for_address(std::string_view address) const {
  const std::string value = placed(address, true);
  std::string out = pieces_.front();
  for (std::size_t i = 1; i < pieces_.size(); ++i) out += value + pieces_[i];
  return out;
}

std::string twelve_hour_time(DateTime t) {
  CivilTime c = civil(t);
  int hour = c.hour % 12 == 0 ? 12 : c.hour % 12;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d %s", hour, c.minute, c.hour < 12 ? "AM" : "PM");
  return buf;
}

std::string zone_capitals(std::string_view zone) {
  std::string capitals;
  for (char ch : zone) {
    if (ch >= 'A' && ch <= 'Z') capitals += ch;
  }
  return capitals;
}

}  // namespace dexweb
