#include "platform/service_manager.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/fd.h"
#include "platform/process.h"

namespace dexweb::platform {

bool notify_socket_present() {
  const char* path = std::getenv("NOTIFY_SOCKET");
  return path && (path[0] == '/' || path[0] == '@');
}

bool notify_service_manager(std::string_view state) {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (!path || !notify_socket_present()) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::size_t len = std::strlen(path);
  if (len >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path, len);
  if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';  // abstract namespace
  Fd sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!sock) return false;
  auto addr_len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len);
  return ::sendto(sock.get(), state.data(), state.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&addr), addr_len) >= 0;
}

bool systemd_running() {
  struct stat st {};
  return ::lstat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

int run_systemctl(const std::string& verb, const std::string& unit) {
  std::vector<std::string> argv = {"systemctl", verb};
  if (!unit.empty()) argv.push_back(unit);
  ProgramRun run = run_and_wait(argv, std::chrono::seconds(60));
  return run.end == ProgramRun::End::Exited ? run.code : -1;
}

}  // namespace dexweb::platform
