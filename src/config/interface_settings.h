#pragma once
// The interface settings of the templates table: one record per source (the defaults, the
// "global" row, this interface's own row, and the effective result of laying the rows over
// the defaults). Each setting carries a set flag telling whether its source named it.
//
// Every setting of the interface settings text is listed once, in kInterfaceSettingTable:
// its key, the kind of value the parser stores, and its default. The parser knows the keys
// of all interfaces of the gateway, so the table lists settings that DexWeb itself never
// acts on. The settings record, its defaults and the parser are all made from it. The
// settings text of a templates row is lines "name=value" separated by CR LF.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace dexweb {

enum class SettingKind : std::uint8_t {
  Text,       // escape-decoded
  LowerText,  // escape-decoded, then lower-cased
  UpperText,  // escape-decoded, then upper-cased
  RawText,    // stored exactly as written
  Boolean,    // true exactly when the value reads "true" in any case
  Number,     // the leading decimal number, rounded half to even into 32 bits
};

struct SettingDefinition {
  std::string_view key;  // lower case
  SettingKind kind;
  // Texts: the value itself. Booleans: "true" or empty. Numbers: decimal digits.
  std::string_view default_value = {};
  // A second key that sets the same setting.
  std::string_view other_key = {};
};

inline constexpr auto kInterfaceSettingTable = [] {
  using enum SettingKind;
  return std::to_array<SettingDefinition>({
      {"from", Text},
      {"to", Text},
      {"stripcharacters", Text},
      {"internetdomain", Text, "example.com"},
      {"envelopefrom", Text},
      {"envelopeto", Text},
      {"replyto", Text},
      {"parameterdelimiter", Text, "|"},
      {"pausechar", Text, "#"},
      {"messagebreakchar", Text},
      {"subjectdelimiter", Text, ":"},
      {"subjectdefault", Text, "Text Message", "smtpsubjectdefault"},
      {"subjectmaxchars", Text, "0"},
      {"bodymaxchars", Text, "0"},
      {"responserecipient", Text},
      {"responsepath", Text},
      {"modemwakeupcommand", Text, "AT\r"},
      {"modemhangupcommand", Text, "ATH0\r"},
      {"subjectfilter", Text},
      {"subjectfilterdebugfile", Text},
      {"filter", Text},
      {"filterdebugfile", Text},
      {"interfacefilter", Text},
      {"interfacefilterdebugfile", Text},
      {"rawinterfacefilterdebugfile", Text},
      {"rawinterfacefilter", Text},
      {"replyfilter", Text},
      {"replyfilterdebugfile", Text},
      {"useattachmentasbody", Text},
      {"smtphellohost", Text, "%InternetDomain%"},
      {"msdeliveryenvelopefrom", Text},
      {"msdeliveryauthmethod", Text},
      {"msdeliveryauthusername", Text},
      {"msdeliveryauthpassword", Text},
      {"msdeliveryauthclientid", Text},
      {"msdeliveryauthclientsecret", Text},
      {"msdeliveryauthtokenendpoint", Text},
      {"msdeliveryauthtoken", Text},
      {"msdeliveryauthrefreshtoken", Text},
      {"wctpresponsesto", Text},
      {"wctpdtd", Text, "http://dtd.wctp.org/wctp-dtd-v1r3.dtd"},
      {"httpsuccessresponse", Text},
      {"httperrorresponse", Text},
      {"httpcookiepath", Text},
      {"rawtcpsuccessresponse", Text},
      {"rawtcperrorresponse", Text},
      {"rawserialsuccessresponse", Text},
      {"rawserialerrorresponse", Text},

      {"httpposttype", LowerText},
      {"httpprotocol", LowerText, "http"},
      {"smtpforceauth", LowerText, "plain"},
      {"tcpprotocol", LowerText, "tcp"},
      {"smtptlsversion", UpperText},

      {"authusername", RawText},
      {"authpassword", RawText},
      {"authclientid", RawText},
      {"authclientsecret", RawText},
      {"authtokenendpoint", RawText},
      {"authtoken", RawText},
      {"authrefreshtoken", RawText},
      {"gsmcmglstring", RawText, "AT+CMGL=\"REC UNREAD\""},

      {"stripnonprintable", Boolean},
      {"fixbareeol", Boolean},
      {"stripalpha", Boolean},
      {"expandtabs", Boolean},
      {"envelopefromasemail", Boolean},
      {"forceadhocemail", Boolean},
      {"usealternatedns", Boolean},
      {"usecarrierauth", Boolean, "true"},
      {"logcredentials", Boolean},
      {"responseincluderequest", Boolean},
      {"ignorecd", Boolean},
      {"usetelnet", Boolean},
      {"usefilterdll", Boolean},
      {"usefilterdllfile", Boolean},
      {"sendmessagefile", Boolean},
      {"altparser", Boolean},
      {"altparserstriptags", Boolean},
      {"grouplabelafter", Boolean},
      {"smtpforcestarttls", Boolean},
      {"smtpqpencode", Boolean},
      {"smtpusedkim", Boolean},
      {"smtpsendreset", Boolean, "true"},
      {"smtpfriendlynames", Boolean},
      {"wctpbase64encode", Boolean},
      {"snppmessonly", Boolean},
      {"gsmusecmgf", Boolean, "true"},
      {"gsmusewscl", Boolean},
      {"gsmusecmgs", Boolean, "true"},
      {"gsmuseqcmgs", Boolean},
      {"gsmusesmsm2m", Boolean},
      {"gsmusemmmg", Boolean},
      {"gsmusecpoint", Boolean},
      {"gsmusegt", Boolean, "true"},
      {"gsmsettextmodeonce", Boolean},

      {"intermessagedelay", Number},
      {"pausetime", Number, "1000"},
      {"subjectsearchlength", Number},
      {"intercommanddelay", Number, "1000"},
      {"msdeliveryport", Number, "25"},
      {"smtpconnecttimeout", Number, "30"},
      {"httpresponsetimeout", Number, "10"},
      {"rawtcpresponsetimeout", Number, "1"},
      {"rawserialresponsetimeout", Number, "1"},
      {"gsmcmgldelay", Number},
  });
}();

inline constexpr std::size_t kInterfaceSettingCount = kInterfaceSettingTable.size();
static_assert(kInterfaceSettingCount == 105);

// The position of the setting that key (lower case, exact) names, either of its names.
constexpr std::optional<std::size_t> find_setting(std::string_view key) {
  for (std::size_t i = 0; i < kInterfaceSettingCount; ++i) {
    const SettingDefinition& d = kInterfaceSettingTable[i];
    if (d.key == key || (!d.other_key.empty() && d.other_key == key)) return i;
  }
  return std::nullopt;
}

// True when no two settings share a key name.
consteval bool setting_keys_unique() {
  for (std::size_t i = 0; i < kInterfaceSettingCount; ++i)
    for (std::string_view key : {kInterfaceSettingTable[i].key, kInterfaceSettingTable[i].other_key})
      if (!key.empty() && find_setting(key) != i) return false;
  return true;
}
static_assert(setting_keys_unique());

constexpr bool holds_text(SettingKind kind) { return kind != SettingKind::Boolean && kind != SettingKind::Number; }

// A setting named at compile time, typed by the value it holds: an unknown key, or a key
// whose value is of another type, does not compile.
template <typename T>
struct SettingId {
  std::size_t index;
};
using TextSetting = SettingId<std::string>;
using FlagSetting = SettingId<bool>;
using NumberSetting = SettingId<std::int32_t>;

template <typename T>
consteval SettingId<T> setting(std::string_view key) {
  std::optional<std::size_t> index = find_setting(key);
  if (!index) throw "unknown interface setting";
  SettingKind kind = kInterfaceSettingTable[*index].kind;
  bool matches = std::is_same_v<T, bool>           ? kind == SettingKind::Boolean
                 : std::is_same_v<T, std::int32_t> ? kind == SettingKind::Number
                                                   : holds_text(kind);
  if (!matches) throw "interface setting of another type";
  return {*index};
}

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

// Applies one row's columns to a record that has just been reset. Lines end only at a CR LF
// pair; a line is split at its first "=", and a line without one is ignored. Keys are
// lower-cased and trimmed of blanks, values trimmed of blanks; an unknown key only marks the
// record as having content. A key named again overwrites the earlier value. A non-empty
// subject or body sets its template. Never fails.
void parse_settings(InterfaceSettings& record, std::string_view settings, std::string_view subject,
                    std::string_view body);

}  // namespace dexweb
