#pragma once
// The gateway's settings by logical name, as all its modules know them: the monitor
// settings and the run and stop flags of the modules and connectors, each read from the
// registry on every call.

#include <optional>
#include <string_view>

#include "util/variant.h"

namespace dexweb {

// The setting's value (a Boolean, a 32-bit number or text), or nullopt for a name that is
// not in the list. Names compare without regard to case.
std::optional<Variant> get_named_setting(std::string_view name);

}  // namespace dexweb
