#pragma once
// The link to the gateway's monitors: one datagram per report to the local monitor
// (127.0.0.1) and to up to three further monitors configured by dotted IPv4 address, all on
// the same UDP port. Every step is best effort: nothing here throws or blocks for long.
//
// Also the gateway's settings by logical name, as all its modules know them, answered from
// the registry settings the module holds: the monitor settings and the scheduler's run flag
// ("sched_reg_run"). The run flags of the other modules and connectors are theirs to read.

#include <optional>
#include <string>
#include <string_view>

#include "config/registry.h"
#include "util/variant.h"

namespace dexweb {

// Takes VTM_Enabled, VTM_Port and VTM_IP1..3 of the registry settings into the module's
// monitor settings.
void read_monitor_settings(const RegistrySettings& registry);
// True when the monitor link is on.
bool monitor_enabled();
// Re-resolves the further monitors when their address changed or once per minute.
void refresh_monitor_addresses();
// A monitor datagram's text: sender ("VTXWeb", or "Velotrax" for the message log), time
// stamp, category and text, each followed by "|" but the last, which ends in CR.
std::string monitor_datagram(std::string_view sender, std::string_view stamp, std::string_view category,
                             std::string_view text);
// Sends payload (a monitor_datagram) to every usable monitor.
void send_to_monitors(std::string_view payload);

// The first IPv4 address of a host name as a dotted quad, or empty text.
std::string resolve_host(std::string_view name);

// The setting's value (a Boolean, a 32-bit number or text), or nullopt for a name that is
// not in the list. Names compare without regard to case.
std::optional<Variant> get_named_setting(const RegistrySettings& registry, std::string_view name);

}  // namespace dexweb
