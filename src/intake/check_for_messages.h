#pragma once
// The poll of the watched folder (settings.dexwebcgi_path): each listed message file is
// read, checked, resolved into rows of the messages table or refused, and deleted.

#include "intake/intake_context.h"

namespace dexweb {

// Seconds after the start of the loop during which files are still started.
inline constexpr double kPollBudgetSeconds = 10;

// True when the listing held at least one message file (also files left for later polls);
// false when the folder held none or could not be reached ("Unable to access folder: " is
// logged on the first poll only). Persistent errors end in the error routine's halt.
bool check_for_messages(IntakeContext& ctx);

}  // namespace dexweb
