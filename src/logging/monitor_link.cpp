#include "logging/monitor_link.h"

#include <string>

#include "config/registry.h"
#include "logging/reporter.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "util/text.h"

namespace dexweb {

void read_monitor_settings(const RegistrySettings& registry) {
  MonitorSettings& m = log_state().monitor;
  m.enabled = registry_flag(registry.VTM_Enabled);
  m.port = registry.VTM_Port;
  m.host = kLocalMonitorHost;
  for (std::size_t i = 0; i < m.further.size(); ++i) {
    FurtherMonitor& further = m.further[i];
    further.address = registry.VTM_IP[i];
    further.enabled = is_ipv4(further.address);
  }
}

std::string monitor_datagram(std::string_view sender, std::string_view stamp, std::string_view category,
                             std::string_view text) {
  std::string payload(sender);
  payload.append("|").append(stamp).append("|").append(category).append("|").append(text).append("\r");
  return payload;
}

bool monitor_enabled() { return log_state().monitor.enabled; }

void refresh_monitor_addresses() {
  MonitorSettings& m = log_state().monitor;
  // Zones differ from UTC by whole minutes: the gateway's minutes turn with UTC plus its offset.
  const auto minute = std::chrono::floor<std::chrono::minutes>(platform::clock().now() + platform::server_time_offset());
  const bool due = m.last_refresh_minute != minute;
  if (due) m.last_refresh_minute = minute;
  for (FurtherMonitor& further : m.further) {
    if (!further.enabled || (further.address == further.cached_name && !due)) continue;
    further.cached_name = further.address;
    further.resolved = resolve_host(further.address);
  }
}

void send_to_monitors(std::string_view payload) {
  MonitorSettings& m = log_state().monitor;
  if (m.port_number_of != m.port) {
    m.port_number = registry_port(m.port);
    m.port_number_of = m.port;
  }
  const int port = m.port_number;
  std::string bytes = text::encode_1252(payload);
  m.sender.send(m.host, port, bytes);
  for (const FurtherMonitor& further : m.further)
    if (further.enabled && !further.resolved.empty()) m.sender.send(further.resolved, port, bytes);
}

std::string resolve_host(std::string_view name) {
  std::string host = text::trim(name);
  return host.empty() ? std::string() : platform::resolve_host_ipv4(host);
}

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
