#pragma once
// Where the module's monitor datagrams go, as read from the registry's Monitor key.

#include <array>
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
  // Minute of the hour (of server_now) of the last address refresh, plus 1; 0 before the first.
  int last_refresh_minute = 0;
  // One socket for every datagram of the run.
  platform::UdpSender sender;
};

}  // namespace dexweb
