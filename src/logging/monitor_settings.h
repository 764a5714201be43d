#pragma once
// Where the module's monitor datagrams go, as read from the registry's Monitor key.

#include <array>
#include <chrono>
#include <optional>
#include <string>

#include "platform/udp_sender.h"

namespace dexweb {

inline constexpr const char* kLocalMonitorHost = "127.0.0.1";

struct FurtherMonitor {
  std::string address;      // VTM_IPn as configured
  bool enabled = false;     // the address is a dotted IPv4 address
  std::string cached_name;  // the address the last resolution was made for
  std::string resolved;     // dotted quad, or empty when it could not be resolved
};

struct MonitorSettings {
  bool enabled = false;
  std::string port;  // VTM_Port as text
  std::string host = kLocalMonitorHost;
  std::array<FurtherMonitor, 3> further;
  // The minute (of the gateway's clock) of the last address refresh; nullopt before the first.
  std::optional<std::chrono::sys_time<std::chrono::minutes>> last_refresh_minute;
  // port as a number (0 when it is none), and the text it was read from.
  int port_number = 0;
  std::optional<std::string> port_number_of;
  // One socket for every datagram of the run.
  platform::UdpSender sender;
};

}  // namespace dexweb
