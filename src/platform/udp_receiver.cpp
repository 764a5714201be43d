#include "platform/udp_receiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "util/runtime_error.h"

namespace dexweb::platform {
namespace {

constexpr std::size_t kLargestDatagram = 65536;

[[noreturn]] void fail(const std::string& what) {
  throw RuntimeError(err::kInvalidProcedureCall, what + ": " + std::strerror(errno));
}

}  // namespace

UdpReceiver::UdpReceiver(const std::string& address, int port)
    : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  if (port < 0 || port > 65535 || ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1)
    throw RuntimeError(err::kInvalidProcedureCall, "Not a listening address: " + address + ":" + std::to_string(port));
  if (!socket_) fail("UDP socket");
  if (::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
    fail("Cannot listen on " + address + ":" + std::to_string(port));
  socklen_t len = sizeof addr;
  if (::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) fail("UDP socket name");
  port_ = ntohs(addr.sin_port);
}

std::optional<std::string> UdpReceiver::receive(std::chrono::milliseconds timeout) {
  pollfd ready{socket_.get(), POLLIN, 0};
  if (::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
  std::string datagram(kLargestDatagram, '\0');
  const ssize_t got = ::recv(socket_.get(), datagram.data(), datagram.size(), 0);
  if (got < 0) return std::nullopt;
  datagram.resize(static_cast<std::size_t>(got));
  return datagram;
}

}  // namespace dexweb::platform
