#pragma once
// The gateway's settings by logical name, as all its modules know them, answered from the
// registry settings the module holds: the monitor settings and the scheduler's run flag
// ("sched_reg_run"). The run flags of the other modules and connectors are theirs to read.

#include <optional>
#include <string_view>

#include "config/registry.h"
#include "util/variant.h"

namespace dexweb {

// The setting's value (a Boolean, a 32-bit number or text), or nullopt for a name that is
// not in the list. Names compare without regard to case.
std::optional<Variant> get_named_setting(const RegistrySettings& registry, std::string_view name);

}  // namespace dexweb
