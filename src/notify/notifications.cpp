// Placeholder until the notifications land: nothing is written.
#include "notify/notifications.h"

namespace dexweb {
void SendNotifications(NotifyContext&, const std::string&, const std::string&, const std::string&, bool,
                       const std::string&) {}
}  // namespace dexweb
