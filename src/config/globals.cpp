#include "config/globals.h"

#include "platform/clock.h"

namespace dexweb {

Globals& globals() {
  static Globals g;
  return g;
}

DateTime server_now() { return platform::local_now() + globals().time_offset; }

}  // namespace dexweb
