#include "platform/service_manager.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

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

std::optional<std::chrono::microseconds> watchdog_interval() {
  const char* usec = std::getenv("WATCHDOG_USEC");
  if (!usec || !*usec) return std::nullopt;
  const char* pid = std::getenv("WATCHDOG_PID");
  if (pid && *pid && std::strtol(pid, nullptr, 10) != ::getpid()) return std::nullopt;
  char* end = nullptr;
  const long long value = std::strtoll(usec, &end, 10);
  if (*end != '\0' || value <= 0) return std::nullopt;
  return std::chrono::microseconds(value);
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
