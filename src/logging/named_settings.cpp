#include "logging/named_settings.h"

#include <string>
#include <vector>

#include "config/registry.h"
#include "config/registry_settings.h"
#include "config/registry_values.h"
#include "logging/monitor_link.h"
#include "logging/monitor_settings.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr const char* kWindowsVersionKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

enum class As { kFlag, kNumber, kText, kIpv4, kLocalMonitor };

struct NamedSetting {
  std::string name;
  std::string key;
  std::string value;
  As as;
};

std::vector<NamedSetting> build_table() {
  std::vector<NamedSetting> rows = {
      {"vtmonitor_enabled", kMonitorKey, "VTM_Enabled", As::kFlag},
      {"vtmonitor_port", kMonitorKey, "VTM_Port", As::kNumber},
      {"vtmonitor_ip0", "", "", As::kLocalMonitor},
      {"vtmonitor_ip1", kMonitorKey, "VTM_IP1", As::kText},
      {"vtmonitor_ip2", kMonitorKey, "VTM_IP2", As::kText},
      {"vtmonitor_ip3", kMonitorKey, "VTM_IP3", As::kText},
      {"vtmonitor_ip1_enabled", kMonitorKey, "VTM_IP1", As::kIpv4},
      {"vtmonitor_ip2_enabled", kMonitorKey, "VTM_IP2", As::kIpv4},
      {"vtmonitor_ip3_enabled", kMonitorKey, "VTM_IP3", As::kIpv4},
      {"velotrax_reg_stop", kServicesKey, "Stop", As::kFlag},
      {"sched_reg_run", kServicesKey, "Sched_Run", As::kFlag},
      {"dexascii_reg_run", kServicesKey, "DexAscii_Run", As::kFlag},
      {"dexmail_reg_run", kServicesKey, "DexMail_Run", As::kFlag},
      {"dexweb_reg_run", kServicesKey, "DexWeb_Run", As::kFlag},
      {"dextap_reg_run", kServicesKey, "DexTap_Run", As::kFlag},
      {"dexserial_reg_run", kServicesKey, "DexSerial_Run", As::kFlag},
      {"smtpport", kVelotraxKey, "SmtpPort", As::kNumber},
      {"nologinoption", kVelotraxKey, "NoLoginOption", As::kFlag},
      {"ziplogarchive", kVelotraxKey, "ZipLogArchive", As::kFlag},
      {"proxyhost", kVelotraxKey, "ProxyHost", As::kText},
      {"proxyport", kVelotraxKey, "ProxyPort", As::kNumber},
      {"dextapidextras", kVelotraxKey, "DexTapIdExtras", As::kText},
      {"windowsversion", kWindowsVersionKey, "ProductName", As::kText},
      {"dexasciiunhide", kServicesKey, "DexAsciiUnhide", As::kFlag},
      {"dexserialignorerestart", kServicesKey, "DexSerialIgnoreRestart", As::kFlag},
      {"dextapignorerestart", kServicesKey, "DexTapIgnoreRestart", As::kFlag},
      {"forwardthroughrecipient", kVelotraxKey, "ForwardThroughRecipient", As::kFlag},
      {"noadminbackupprompt", kVelotraxKey, "NoAdminBackupPrompt", As::kFlag},
  };
  for (int i = 1; i <= 16; ++i) {
    std::string n = std::to_string(i);
    rows.push_back({"connector_reg_run_" + n, kServicesKey, "Connector" + n + "_Run", As::kFlag});
  }
  return rows;
}

const NamedSetting* find_setting(std::string_view name) {
  static const std::vector<NamedSetting> table = build_table();
  std::string wanted = text::to_lower(name);
  for (const NamedSetting& row : table)
    if (row.name == wanted) return &row;
  return nullptr;
}

Variant convert(const NamedSetting& row) {
  if (row.as == As::kLocalMonitor) return std::string(kLocalMonitorHost);
  std::string value = query_value(row.key, row.value);
  switch (row.as) {
    case As::kFlag: return text::to_lower(value) == "true";
    case As::kNumber: return registry_int32(value);
    case As::kIpv4: return is_ipv4(value);
    default: return value;
  }
}

}  // namespace

std::optional<Variant> get_named_setting(std::string_view name) {
  const NamedSetting* row = find_setting(name);
  if (!row) return std::nullopt;
  return convert(*row);
}

}  // namespace dexweb
