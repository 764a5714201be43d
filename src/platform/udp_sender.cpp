#include "platform/udp_sender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

namespace dexweb::platform {

bool UdpSender::send(const std::string& host, int port, std::string_view payload) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  if (port <= 0 || port > 65535 || ::inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1) return false;
  if (!socket_) socket_ = Fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket_) return false;
  const bool sent = ::sendto(socket_.get(), payload.data(), payload.size(), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0;
  if (!sent) socket_.reset();
  return sent;
}

}  // namespace dexweb::platform
