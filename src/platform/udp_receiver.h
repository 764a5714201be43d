#pragma once
// A UDP socket bound to one IPv4 address and port that receives datagrams.

#include <chrono>
#include <optional>
#include <string>

#include "platform/fd.h"

namespace dexweb::platform {

class UdpReceiver {
 public:
  // Binds to address (dotted IPv4) and port; port 0 takes any free port. Raises
  // RuntimeError when the address is not a dotted IPv4 address or the bind fails.
  UdpReceiver(const std::string& address, int port);

  // The bound port.
  int port() const { return port_; }
  // The next datagram, or nullopt when none came within timeout (or a signal interrupted
  // the wait).
  std::optional<std::string> receive(std::chrono::milliseconds timeout);

 private:
  Fd socket_;
  int port_ = 0;
};

}  // namespace dexweb::platform
