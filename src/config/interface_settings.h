#pragma once
// The interface settings of the templates table: one record per source (the defaults, the
// "global" row, this interface's own row, and the effective result of laying the rows over
// the defaults). Each setting carries a set flag telling whether its source named it.

#include <array>
#include <cstdint>
#include <string>
#include <variant>

#include "config/interface_setting_table.h"

namespace dexweb {

using SettingValue = std::variant<std::string, bool, std::int32_t>;

class InterfaceSettings {
 public:
  struct Template {
    bool set = false;
    std::string text;
  };

  // The defaults: no content, nothing set.
  InterfaceSettings();
  void reset() { *this = InterfaceSettings(); }

  // True once the source had a settings line with "=", or a non-empty subject or body.
  bool has_content() const { return has_content_; }
  void set_has_content() { has_content_ = true; }

  template <typename T>
  bool is_set(SettingId<T> id) const {
    return entries_[id.index].set;
  }
  template <typename T>
  const T& value(SettingId<T> id) const {
    return std::get<T>(entries_[id.index].value);
  }
  // By position in kInterfaceSettingTable.
  bool is_set(std::size_t index) const { return entries_.at(index).set; }
  const SettingValue& value(std::size_t index) const { return entries_.at(index).value; }
  // Sets the flag and stores a value of the setting's kind (std::bad_variant_access for a
  // value of another kind).
  void set(std::size_t index, SettingValue value);

  const Template& subject() const { return subject_; }
  const Template& body() const { return body_; }
  void set_subject(std::string text) { subject_ = {true, std::move(text)}; }
  void set_body(std::string text) { body_ = {true, std::move(text)}; }

 private:
  struct Entry {
    bool set = false;
    SettingValue value;
  };

  bool has_content_ = false;
  std::array<Entry, kInterfaceSettingCount> entries_;
  Template subject_;
  Template body_;
};

// The settings DexWeb acts on.
namespace settings_key {
inline constexpr TextSetting kRawInterfaceFilter = setting<std::string>("rawinterfacefilter");
inline constexpr TextSetting kRawInterfaceFilterDebugFile = setting<std::string>("rawinterfacefilterdebugfile");
inline constexpr TextSetting kInterfaceFilter = setting<std::string>("interfacefilter");
inline constexpr TextSetting kInterfaceFilterDebugFile = setting<std::string>("interfacefilterdebugfile");
inline constexpr FlagSetting kUseFilterDll = setting<bool>("usefilterdll");
inline constexpr FlagSetting kUseFilterDllFile = setting<bool>("usefilterdllfile");
}  // namespace settings_key

// Lays what source sets over destination: nothing when source has no content; otherwise
// every setting and template that source set, with its set flag. The destination's
// has-content flag is left as it was.
void overlay(InterfaceSettings& destination, const InterfaceSettings& source);

}  // namespace dexweb
