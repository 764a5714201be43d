#include "shell/process_exit.h"

#include <cstdio>
#include <cstdlib>

namespace dexweb {

void end_process(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(status);
}

}  // namespace dexweb
