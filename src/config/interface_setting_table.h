#pragma once
// Every setting of the interface settings text: its key, the kind of value the parser
// stores, and its default. The parser knows the keys of all interfaces of the gateway, so
// the table lists settings that DexWeb itself never acts on. This is the only list of
// them: the settings record, its defaults and the parser are all made from it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

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

}  // namespace dexweb
