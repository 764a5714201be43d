#include "config/globals.h"

namespace dexweb {

Globals& globals() {
  static Globals g;
  return g;
}

}  // namespace dexweb
