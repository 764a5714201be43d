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
  bool Enabled = false;
  std::string Port;  // VTM_Port as text
  std::string Host = kLocalMonitorHost;
  std::array<FurtherMonitor, 3> Further;
  // Minute of the hour (of ServerNow) of the last address refresh, plus 1; 0 before the first.
  int LastRefreshMinute = 0;
  // One socket for every datagram of the run.
  platform::UdpSender Sender;
};

}  // namespace dexweb
