#include "notify/template_expansion.h"

#include <array>
#include <cstdio>
#include <span>

#include "config/globals.h"
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

std::optional<std::string> now_date(const Fields&) { return short_date(ServerNow()); }
std::optional<std::string> now_time(const Fields&) { return twelve_hour_time(ServerNow()); }
std::optional<std::string> now_military(const Fields&) { return military_time(ServerNow()); }
std::string current_zone() { return platform::zone_name(platform::clock().now()); }

constexpr std::array<Placeholder, 21> kPlaceholders{{
    {"%Message%", [](const Fields& f) -> std::optional<std::string> { return f.message; }},
    {"%ErrorMessage%", [](const Fields& f) -> std::optional<std::string> { return f.ErrorMessage; }},
    {"%Sender%", [](const Fields& f) -> std::optional<std::string> { return f.Sender; }},
    {"%Recipient%", [](const Fields& f) -> std::optional<std::string> { return f.Recipient; }},
    {"%OriginalRecipient%", [](const Fields& f) -> std::optional<std::string> { return f.Recipient; }},
    {"%LastRecipient%", [](const Fields& f) -> std::optional<std::string> { return f.Recipient; }},
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
    {"\t", [](const Fields&) -> std::optional<std::string> { return std::string(7, ' '); }},
    {"%NotifyAddress%", [](const Fields& f) -> std::optional<std::string> { return f.NotifyAddress; }},
}};

std::string replace_each(std::string text, std::span<const Placeholder> placeholders, const Fields& fields) {
  for (const Placeholder& p : placeholders) {
    if (auto value = p.value(fields)) text = text::ireplace_all(text, p.token, *value);
  }
  return text;
}

}  // namespace

std::string expand_template(std::string text, const NotificationFields& fields) {
  return replace_each(std::move(text), std::span(kPlaceholders).first(kPlaceholders.size() - 1), fields);
}

std::string expand_notify_address(std::string text, const NotificationFields& fields) {
  return replace_each(std::move(text), std::span(kPlaceholders).last(1), fields);
}

std::string short_date(DateTime t) {
  CivilTime c = civil(t);
  return std::to_string(c.month) + "/" + std::to_string(c.day) + "/" + std::to_string(c.year);
}

std::string twelve_hour_time(DateTime t) {
  CivilTime c = civil(t);
  int hour = c.hour % 12 == 0 ? 12 : c.hour % 12;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d %s", hour, c.minute, c.hour < 12 ? "AM" : "PM");
  return buf;
}

std::string military_time(DateTime t) {
  CivilTime c = civil(t);
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d%02d", c.hour, c.minute);
  return buf;
}

std::string zone_capitals(std::string_view zone) {
  std::string capitals;
  for (char ch : zone) {
    if (ch >= 'A' && ch <= 'Z') capitals += ch;
  }
  return capitals;
}

std::string zone_initial(std::string_view zone) { return text::left(zone, 1); }

}  // namespace dexweb
