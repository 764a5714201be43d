#pragma once
// The service manager's side of the platform (systemd): the notification socket that
// stands for the Start event, and the commands that register a unit.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace dexweb::platform {

// True when $NOTIFY_SOCKET names a notification socket.
bool notify_socket_present();
// Sends one notification ("READY=1", "STOPPING=1"); false when there is no socket or the
// send failed.
bool notify_service_manager(std::string_view state);
// The watchdog interval the service manager asks for ($WATCHDOG_USEC, for this process when
// $WATCHDOG_PID names one); nullopt when there is none.
std::optional<std::chrono::microseconds> watchdog_interval();
// True when systemd is the running init (so systemctl can be asked).
bool systemd_running();
// Runs systemctl with the arguments and waits; its exit status, or -1.
int run_systemctl(const std::string& verb, const std::string& unit);

}  // namespace dexweb::platform
