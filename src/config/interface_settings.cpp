// Placeholder until the interface settings land.
#include "config/interface_settings.h"

namespace dexweb {
InterfaceSettings effective_interface_settings(DBObject&) { return {}; }
}  // namespace dexweb
