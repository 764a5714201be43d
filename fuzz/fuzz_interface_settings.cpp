// The settings text of a templates row. The input's first line is the row's subject, the
// second its body, the rest its settings text.

#include <variant>

#include "config/interface_settings.h"
#include "fuzz_support.h"
#include "util/text.h"

namespace {

using dexweb::fuzz::require;
namespace text = dexweb::text;

// Whether some CR LF separated line of settings holds "=".
bool any_setting_line(std::string_view settings) {
  for (std::size_t start = 0; start < settings.size();) {
    std::size_t end = settings.find("\r\n", start);
    if (end == std::string_view::npos) end = settings.size();
    if (settings.substr(start, end - start).find('=') != std::string_view::npos) return true;
    start = end + 2;
  }
  return false;
}

bool holds_kind(dexweb::SettingKind kind, const dexweb::SettingValue& value) {
  switch (kind) {
    case dexweb::SettingKind::Boolean: return std::holds_alternative<bool>(value);
    case dexweb::SettingKind::Number: return std::holds_alternative<std::int32_t>(value);
    default: return std::holds_alternative<std::string>(value);
  }
}

}  // namespace

void dexweb::fuzz::fuzz_input(std::string_view input) {
  const std::string decoded = text::decode_bytes(input);
  const auto parts = dexweb::fuzz::take_lines(decoded, 2);
  const std::string_view subject = parts[0], body = parts[1], settings = parts[2];

  dexweb::InterfaceSettings record;
  dexweb::parse_settings(record, settings, subject, body);

  const bool expect_content = any_setting_line(settings) || !subject.empty() || !body.empty();
  require(record.has_content() == expect_content, "content exactly when a line has '=' or a template is given");
  require(record.subject().set == !subject.empty() && record.body().set == !body.empty(),
          "a template is set exactly when given");
  for (std::size_t i = 0; i < dexweb::kInterfaceSettingCount; ++i) {
    const dexweb::SettingDefinition& definition = dexweb::kInterfaceSettingTable[i];
    const dexweb::SettingValue& value = record.value(i);
    require(holds_kind(definition.kind, value), "every value has its setting's kind");
    if (!record.is_set(i) || !std::holds_alternative<std::string>(value)) continue;
    const std::string& s = std::get<std::string>(value);
    if (definition.kind == dexweb::SettingKind::RawText)
      require(s.empty() || (s.front() != ' ' && s.back() != ' '), "raw values are trimmed");
    if (definition.kind == dexweb::SettingKind::LowerText)
      require(text::to_lower(s) == s, "lower-case settings hold no upper case");
  }
}
