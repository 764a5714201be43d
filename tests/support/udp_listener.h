#pragma once
// A real UDP socket on 127.0.0.1 that plays the monitor in tests.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace dexweb::test {

class UdpListener {
 public:
  UdpListener() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~UdpListener() { ::close(fd_); }
  UdpListener(const UdpListener&) = delete;
  UdpListener& operator=(const UdpListener&) = delete;

  int port() const { return port_; }

  // Every datagram that arrives until none has come for 200 ms.
  std::vector<std::string> receive_all() {
    std::vector<std::string> got;
    pollfd p{fd_, POLLIN, 0};
    char buf[65536];
    while (::poll(&p, 1, 200) > 0) got.emplace_back(buf, std::max<ssize_t>(::recv(fd_, buf, sizeof buf, 0), 0));
    return got;
  }

 private:
  int fd_;
  int port_ = 0;
};

}  // namespace dexweb::test
