#include "config/interface_settings.h"

#include "config/interface_settings_parser.h"

namespace dexweb {
namespace {

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

}  // namespace dexweb
