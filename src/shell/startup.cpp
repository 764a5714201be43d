#include "shell/startup.h"

namespace dexweb {

int Main(int, char**) { return 0; }

}  // namespace dexweb
