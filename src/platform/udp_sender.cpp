#include "platform/udp_sender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

namespace dexweb::platform {

bool UdpSender::send(const std::string& host, int port, std::string_view payload) {
  if (port <= 0 || port > 65535) return false;
  if (host_ != host) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, host.c_str(), &parsed) != 1) return false;
    host_ = host;
    address_ = parsed.s_addr;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = address_;
  if (!socket_) socket_ = Fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket_) return false;
  const bool sent = ::sendto(socket_.get(), payload.data(), payload.size(), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0;
  if (!sent) socket_.reset();
  return sent;
}

}  // namespace dexweb::platform
