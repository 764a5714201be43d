#include "logging/named_settings.h"

#include <string>

#include "config/registry.h"
#include "logging/monitor_settings.h"
#include "util/text.h"

namespace dexweb {

std::optional<Variant> get_named_setting(const RegistrySettings& registry, std::string_view name) {
  const std::string wanted = text::to_lower(name);
  const auto flag = [](const std::string& value) { return text::to_lower(value) == "true"; };
  if (wanted == "vtmonitor_enabled") return flag(registry.VTM_Enabled);
  if (wanted == "vtmonitor_port") return registry_int32(registry.VTM_Port);
  if (wanted == "vtmonitor_ip0") return std::string(kLocalMonitorHost);
  if (wanted == "sched_reg_run") return flag(registry.Sched_Run);
  for (std::size_t i = 0; i < registry.VTM_IP.size(); ++i) {
    const std::string ip = "vtmonitor_ip" + std::to_string(i + 1);
    if (wanted == ip) return registry.VTM_IP[i];
    if (wanted == ip + "_enabled") return is_ipv4(registry.VTM_IP[i]);
  }
  return std::nullopt;
}

}  // namespace dexweb
