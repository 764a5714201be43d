#pragma once
// What the module's command-line options do (the command line itself: shell/startup.h).
//
// Registers the module with the service manager: the systemd unit "VTXWeb.service" in the
// unit folder ($DEXWEB_UNIT_DIR, else /etc/systemd/system). systemctl is asked to reload and
// enable or disable only where systemd runs and the default unit folder is in use.

#include <string>

#include "config/registry.h"
#include "shell/startup.h"

namespace dexweb {

// The unit file's text for the executable, the registry file (settings: what it says) and
// the run-as account.
std::string service_unit_text(const std::string& executable, const std::string& registry,
                              const RegistrySettings& settings, const CommandLine& cl);
// Writes the unit (the password has no use on Linux and is not stored); 0 on success, 1 when
// the file cannot be written or systemctl failed (said on standard error).
int install_service(const CommandLine& cl, const RegistrySettings& settings);
// Disables and removes the unit; 0 on success, 1 (saying so on standard error) when there is
// no unit to remove or systemctl failed.
int uninstall_service();

}  // namespace dexweb
