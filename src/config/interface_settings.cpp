#include "config/interface_settings.h"

#include <limits>

#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::size_t skip_digits(std::string_view text, std::size_t i) {
  while (i < text.size() && is_digit(text[i])) ++i;
  return i;
}

// The length of the sign, digits and decimals at the start of text; 0 without a digit.
std::size_t number_prefix_length(std::string_view text) {
  std::size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
  std::size_t digits_end = skip_digits(text, i);
  bool any_digit = digits_end > i;
  i = digits_end;
  if (i < text.size() && text[i] == '.') {
    std::size_t decimals_end = skip_digits(text, i + 1);
    any_digit = any_digit || decimals_end > i + 1;
    i = decimals_end;
  }
  return any_digit ? i : 0;
}

// The decimal number at the start of text (sign, digits, decimals), rounded half to even
// and held to the 32-bit range; 0 when text does not start with one.
std::int32_t leading_number(std::string_view text) {
  std::size_t length = number_prefix_length(text);
  if (length == 0) return 0;
  double value = text::parse_number(text.substr(0, length)).value_or(0);
  constexpr double kLow = std::numeric_limits<std::int32_t>::min();
  constexpr double kHigh = std::numeric_limits<std::int32_t>::max();
  if (value < kLow) value = kLow;
  if (value > kHigh) value = kHigh;
  return static_cast<std::int32_t>(text::round_half_even(value));
}

// The value stored for a setting of the given kind from the trimmed text after "=".
SettingValue parse_setting_value(SettingKind kind, std::string_view value) {
  switch (kind) {
    case SettingKind::Text: return decode_escapes(value);
    case SettingKind::LowerText: return text::to_lower(decode_escapes(value));
    case SettingKind::UpperText: return text::to_upper(decode_escapes(value));
    case SettingKind::RawText: return std::string(value);
    case SettingKind::Boolean: return text::to_lower(value) == "true";
    case SettingKind::Number: return leading_number(value);
  }
  return std::string(value);
}

void parse_line(InterfaceSettings& record, std::string_view line) {
  std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return;
  record.set_has_content();
  std::optional<std::size_t> index = find_setting(text::trim(text::to_lower(line.substr(0, equals))));
  if (!index) return;
  record.set(*index, parse_setting_value(kInterfaceSettingTable[*index].kind, text::trim(line.substr(equals + 1))));
}

SettingValue default_value(const SettingDefinition& definition) {
  switch (definition.kind) {
    case SettingKind::Boolean: return definition.default_value == "true";
    case SettingKind::Number: return leading_number(definition.default_value);
    default: return std::string(definition.default_value);
  }
}

}  // namespace

InterfaceSettings::InterfaceSettings()
    : subject_{false, "%Subject%"}, body_{false, "%Subject%%SubjectDelimiter%%Message%"} {
  for (std::size_t i = 0; i < kInterfaceSettingCount; ++i) entries_[i].value = default_value(kInterfaceSettingTable[i]);
}

void InterfaceSettings::set(std::size_t index, SettingValue value) {
  Entry& entry = entries_.at(index);
  if (value.index() != entry.value.index()) throw std::bad_variant_access();
  entry = {true, std::move(value)};
}

void overlay(InterfaceSettings& destination, const InterfaceSettings& source) {
  if (!source.has_content()) return;
  for (std::size_t i = 0; i < kInterfaceSettingCount; ++i)
    if (source.is_set(i)) destination.set(i, source.value(i));
  if (source.subject().set) destination.set_subject(source.subject().text);
  if (source.body().set) destination.set_body(source.body().text);
}

void parse_settings(InterfaceSettings& record, std::string_view settings, std::string_view subject,
                    std::string_view body) {
  for (std::size_t start = 0; start < settings.size();) {
    std::size_t end = settings.find(kLineEnd, start);
    if (end == std::string_view::npos) end = settings.size();
    parse_line(record, settings.substr(start, end - start));
    start = end + kLineEnd.size();
  }
  if (!subject.empty()) {
    record.set_has_content();
    record.set_subject(std::string(subject));
  }
  if (!body.empty()) {
    record.set_has_content();
    record.set_body(std::string(body));
  }
}

}  // namespace dexweb
