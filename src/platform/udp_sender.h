#pragma once
// One UDP socket kept for many datagrams (the monitor link sends a few per message file).
// Nothing here throws.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/fd.h"

namespace dexweb::platform {

class UdpSender {
 public:
  // Sends one datagram to host (dotted IPv4) and port; false when it could not be sent. The
  // socket is opened at the first send and kept; a send that fails drops it, so that the
  // next send starts with a fresh one.
  bool send(const std::string& host, int port, std::string_view payload);

 private:
  Fd socket_;
  // The last host parsed and its address: most datagrams go where the one before went.
  std::optional<std::string> host_;
  std::uint32_t address_ = 0;
};

}  // namespace dexweb::platform
