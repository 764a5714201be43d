#include "intake/filter_call.h"

#include "util/text.h"

namespace dexweb {

DebugTarget debug_target(std::string_view setting) {
  std::size_t option = text::ifind(setting, " /append");
  if (option == std::string_view::npos) return {std::string(setting), false};
  return {std::string(setting.substr(0, option)), true};
}

}  // namespace dexweb
