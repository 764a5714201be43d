#include "config/globals.h"

#include "platform/clock.h"

namespace dexweb {

Globals& globals() {
  static Globals g;
  return g;
}

DateTime ServerNow() { return platform::local_now() + globals().TimeOffset; }

}  // namespace dexweb
