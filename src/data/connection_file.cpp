#include "data/connection_file.h"

#include <cctype>

#include "platform/files.h"
#include "util/nvp_list.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr const char* kCrLf = "\r\n";

// The number that the value's leading digits form, rounded to a whole number; 0 when the
// value does not start with one or the number is outside the 32-bit range.
int leading_number(std::string_view value) {
  std::string s = text::ltrim(value);
  std::size_t end = 0;
  if (end < s.size() && (s[end] == '+' || s[end] == '-')) ++end;
  while (end < s.size() && (std::isdigit(static_cast<unsigned char>(s[end])) || s[end] == '.')) ++end;
  auto n = text::parse_number(s.substr(0, end));
  return n && *n >= -2147483648.5 && *n < 2147483647.5 ? static_cast<int>(text::round_half_even(*n)) : 0;
}

// Removes the entry and returns its value with every ";" deleted; nullopt when absent.
std::optional<std::string> take(NVPList& list, std::string_view name) {
  int index = list.GetIndexByName(name);
  if (index == 0) return std::nullopt;
  std::string value = text::replace_all(to_text(list.GetValueByIndex(index)), ";", "");
  list.RemoveByIndex(index);
  return value;
}

void apply_setting(NVPList& list, std::string_view name, bool set_in_registry, int& setting) {
  if (auto value = take(list, name); value && !set_in_registry) setting = leading_number(*value);
}

void apply_credential(NVPList& list, std::string_view name, std::string_view clause) {
  if (auto value = take(list, name)) list.Add(clause, decode_db_password(*value) + ";");
}

void drop_comments(NVPList& list) {
  for (int i = 1; i <= list.Count();) {
    if (list.GetNameByIndex(i).starts_with("#")) list.RemoveByIndex(i);
    else ++i;
  }
}

std::string driver_clauses(const NVPList& list) {
  std::string out;
  for (int i = 1; i <= list.Count(); ++i) {
    std::string clause = list.GetNameByIndex(i) + "=" + to_text(list.GetValueByIndex(i));
    if (!clause.ends_with(";")) clause += ";";
    out += clause;
  }
  return out;
}

}  // namespace

std::string isolation_level_for(std::string_view value) {
  static constexpr const char* kLevels[] = {"READ UNCOMMITTED", "READ COMMITTED", "REPEATABLE READ",
                                            "SNAPSHOT", "SERIALIZABLE"};
  std::string upper = text::to_upper(value);
  for (const char* level : kLevels)
    if (upper == level) return level;
  return "READ COMMITTED";
}

ServerConnection read_connection_file(const std::string& path, DatabaseSettings& settings) {
  std::string content = text::replace_all(text::decode_bytes(platform::read_file(path)), "\r\n", "\n");
  content = text::replace_all(content, "\n", kCrLf);
  NVPList list;
  list.SetCaseSensitive(false);
  list.LoadFromString(content, kCrLf, "=");
  drop_comments(list);

  auto isolation = take(list, "vtsqlisolation");
  DatabaseSettings& s = settings;
  s.isolation_level = isolation_level_for(isolation.value_or(""));
  apply_setting(list, "vtdbshorttimeout", s.short_timeout_set, s.short_timeout);
  apply_setting(list, "vtdbmediumtimeout", s.medium_timeout_set, s.medium_timeout);
  apply_setting(list, "vtdblongtimeout", s.long_timeout_set, s.long_timeout);
  apply_setting(list, "vtdbretries", s.retries_set, s.retries);
  apply_credential(list, "vtencrypteduid", "UID");
  apply_credential(list, "vtencryptedpwd", "PWD");

  return {list.AsString(kCrLf, "=", ""), driver_clauses(list)};
}

}  // namespace dexweb
