#include "config/registry.h"

#include <algorithm>
#include <array>

#include "util/text.h"

namespace dexweb {
namespace {

using Problem = std::optional<std::string>;

constexpr std::size_t kIpv4MinLength = 7;  // "0.0.0.0"

bool is_octet(std::string_view part) {
  if (part.empty() || part.size() > 3) return false;
  if (!std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  return std::stoi(std::string(part)) <= 255;
}

std::string lower_trimmed(std::string_view text) { return text::to_lower(text::trim(text)); }

// Folders: names are appended to them directly, and a service runs in "/".
Problem folder_problem(std::string_view text, const char* example) {
  if (text.empty()) return std::nullopt;
  if (text.front() != '/') return "is relative: a service runs in \"/\"";
  if (text.back() != '/')
    return "does not end with \"/\": the module appends names to it directly (" + std::string(text) + example + ")";
  return std::nullopt;
}

// A number the module reads with registry_int32, where 0 (or none) stands for the default.
Problem number_problem(std::string_view text, long low, long high, int fallback) {
  if (registry_whole_number(text, low, high) || registry_whole_number(text, 0, 0)) return std::nullopt;
  const int read = registry_int32(text);
  return "must be a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
         " (0: the default); the module uses " + std::to_string(read == 0 ? fallback : read);
}

// A number read with registry_whole_number, the default standing for anything else.
Problem days_problem(std::string_view text, long fallback) {
  if (registry_whole_number(text, 1, 36500)) return std::nullopt;
  return "must be a whole number of days from 1 to 36500; the default " + std::to_string(fallback) + " is used";
}

Problem flag_problem(std::string_view text, bool read_as) {
  const std::string word = lower_trimmed(text);
  if (word == "true" || word == "false") return std::nullopt;
  return std::string("is neither \"true\" nor \"false\": read as ") + (read_as ? "true" : "false");
}

Problem password_problem(std::string_view text) {
  bool groups = text.size() % 3 == 0;
  for (std::size_t i = 0; groups && i < text.size(); i += 3)
    groups = registry_whole_number(text.substr(i, 3), 0, 255).has_value() && text[i] != ' ';
  if (groups) return std::nullopt;
  return "is not groups of three digits (each at most 255): the password is decoded wrongly";
}

Problem run_type_problem(std::string_view text) {
  if (text.empty() || text == "NTService" || text == "Application") return std::nullopt;
  return "is neither \"NTService\" nor \"Application\" (case counts): the module runs as a program without warnings";
}

Problem monitor_flag_problem(std::string_view text) {
  const std::string word = lower_trimmed(text);
  if (word == "true" || word == "false" || text::parse_number(word)) return std::nullopt;
  return "is neither \"true\", \"false\" nor a number: read as false, no datagram is sent";
}

Problem port_problem(std::string_view text) {
  if (registry_port(text) != 0) return std::nullopt;
  return "is not a port number from 1 to 65535: no datagram is sent";
}

Problem address_problem(std::string_view text) {
  if (text::trim(text).empty() || is_ipv4(text)) return std::nullopt;
  return "is not a dotted IPv4 address: this monitor gets no datagram (host names are not looked up)";
}

constexpr auto kProgDir = [](std::string_view t) { return folder_problem(t, "vtfilter.so"); };
constexpr auto kDbDir = [](std::string_view t) { return folder_problem(t, "velotrax.db"); };
constexpr auto kLogDir = [](std::string_view t) { return folder_problem(t, "VTXWeb.log"); };
constexpr auto kShortTimeout = [](std::string_view t) { return number_problem(t, 1, 3600, 2); };
constexpr auto kMediumTimeout = [](std::string_view t) { return number_problem(t, 1, 3600, 5); };
constexpr auto kLongTimeout = [](std::string_view t) { return number_problem(t, 1, 3600, 20); };
constexpr auto kRetries = [](std::string_view t) { return number_problem(t, 1, 100, 3); };
constexpr auto kObfuscate = [](std::string_view t) { return number_problem(t, 0, 8000, 0); };
constexpr auto kSync = [](std::string_view t) { return flag_problem(t, registry_true(t)); };
constexpr auto kInstant = [](std::string_view t) { return flag_problem(t, !registry_false(t)); };
constexpr auto kBadDays = [](std::string_view t) { return days_problem(t, 30); };
constexpr auto kWorkedDays = [](std::string_view t) { return days_problem(t, 7); };

constexpr std::array kValues = std::to_array<RegistryValue>({
    {kVelotraxKey, "Prog_Dir", kProgDir},
    {kVelotraxKey, "DB_Dir", kDbDir},
    {kVelotraxKey, "Log_Dir", kLogDir},
    {kVelotraxKey, "DB_Password", password_problem},
    {kVelotraxKey, "SyncTimeWithServer", kSync},
    {kVelotraxKey, "DB_Short_Timeout", kShortTimeout},
    {kVelotraxKey, "DB_Medium_Timeout", kMediumTimeout},
    {kVelotraxKey, "DB_Long_Timeout", kLongTimeout},
    {kVelotraxKey, "DB_Retries", kRetries},
    {kVelotraxKey, "Obfuscate_Msg_Chars", kObfuscate},
    {kVelotraxKey, "Instant_Pickup", kInstant},
    {kVelotraxKey, "Bad_Retention_Days", kBadDays},
    {kVelotraxKey, "Worked_Files_Retention_Days", kWorkedDays},
    {kVelotraxKey, "SmtpPort", nullptr},
    {kVelotraxKey, "ProxyHost", nullptr},
    {kVelotraxKey, "ProxyPort", nullptr},
    {kVelotraxKey, "NoLoginOption", nullptr},
    {kVelotraxKey, "NoAdminBackupPrompt", nullptr},
    {kVelotraxKey, "ZipLogArchive", nullptr},
    {kVelotraxKey, "ForwardThroughRecipient", nullptr},
    {kVelotraxKey, "DexTapIdExtras", nullptr},
    {kServicesKey, "Run_Type", run_type_problem},
    {kServicesKey, "Stop", nullptr},
    {kServicesKey, "Sched_Run", nullptr},
    {kServicesKey, "DexAscii_Run", nullptr},
    {kServicesKey, "DexMail_Run", nullptr},
    {kServicesKey, "DexWeb_Run", nullptr},
    {kServicesKey, "DexTap_Run", nullptr},
    {kServicesKey, "DexSerial_Run", nullptr},
    {kServicesKey, "DexAsciiUnhide", nullptr},
    {kServicesKey, "DexSerialIgnoreRestart", nullptr},
    {kServicesKey, "DexTapIgnoreRestart", nullptr},
    {kServicesKey, "Connector1_Run", nullptr},  {kServicesKey, "Connector2_Run", nullptr},
    {kServicesKey, "Connector3_Run", nullptr},  {kServicesKey, "Connector4_Run", nullptr},
    {kServicesKey, "Connector5_Run", nullptr},  {kServicesKey, "Connector6_Run", nullptr},
    {kServicesKey, "Connector7_Run", nullptr},  {kServicesKey, "Connector8_Run", nullptr},
    {kServicesKey, "Connector9_Run", nullptr},  {kServicesKey, "Connector10_Run", nullptr},
    {kServicesKey, "Connector11_Run", nullptr}, {kServicesKey, "Connector12_Run", nullptr},
    {kServicesKey, "Connector13_Run", nullptr}, {kServicesKey, "Connector14_Run", nullptr},
    {kServicesKey, "Connector15_Run", nullptr}, {kServicesKey, "Connector16_Run", nullptr},
    {kMonitorKey, "VTM_Enabled", monitor_flag_problem},
    {kMonitorKey, "VTM_Port", port_problem},
    {kMonitorKey, "VTM_IP1", address_problem},
    {kMonitorKey, "VTM_IP2", address_problem},
    {kMonitorKey, "VTM_IP3", address_problem},
});

}  // namespace

int registry_int32(std::string_view text) {
  auto n = text::parse_number(text);
  if (!n || *n < -2147483648.5 || *n >= 2147483647.5) return 0;
  return static_cast<int>(text::round_half_even(*n));
}

std::optional<long> registry_whole_number(std::string_view text, long low, long high) {
  const auto n = text::parse_number(text);
  if (!n || *n < static_cast<double>(low) || *n > static_cast<double>(high) || *n != static_cast<double>(static_cast<long>(*n)))
    return std::nullopt;
  return static_cast<long>(*n);
}

bool registry_true(std::string_view text) { return lower_trimmed(text) == "true"; }
bool registry_false(std::string_view text) { return lower_trimmed(text) == "false"; }

bool registry_flag(std::string_view text) {
  const std::string word = lower_trimmed(text);
  if (word == "true") return true;
  auto number = text::parse_number(word);
  return number && *number != 0;
}

bool is_ipv4(std::string_view text) {
  std::string t = text::trim(text);
  if (t.size() < kIpv4MinLength || std::count(t.begin(), t.end(), '.') != 3) return false;
  std::string_view rest = t;
  for (int part = 0; part < 4; ++part) {
    std::size_t dot = rest.find('.');
    if (!is_octet(rest.substr(0, dot))) return false;
    rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
  }
  return true;
}

int registry_port(std::string_view text) {
  auto number = text::parse_number(text);
  return number && *number >= 1 && *number <= 65535 ? static_cast<int>(*number) : 0;
}

std::span<const RegistryValue> registry_values() { return kValues; }

const RegistryValue* find_registry_value(std::string_view key, std::string_view name) {
  for (const RegistryValue& v : kValues)
    if (text::iequals(v.key, key) && text::iequals(v.name, name)) return &v;
  return nullptr;
}

}  // namespace dexweb
