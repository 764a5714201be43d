#include "shell/process_exit.h"

#include <cstdio>
#include <cstdlib>

namespace dexweb {
namespace {

std::function<void(int)>& end_hook() {
  static std::function<void(int)> hook;
  return hook;
}

}  // namespace

void set_process_end_hook(std::function<void(int)> hook) { end_hook() = std::move(hook); }

void end_process(int status) {
  if (end_hook()) end_hook()(status);
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(status);
}

}  // namespace dexweb
