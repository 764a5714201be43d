#include "intake/internal/intake_log.h"

#include <string>

#include "logging/log_event.h"
#include "util/runtime_error.h"

namespace dexweb {

void warn_detail(std::string_view text) {
  log_detail(text);
  echo_line(std::string(kModuleName) + ": " + std::string(text));
}
void warn_general(std::string_view text) {
  log_general(text);
  if (!echoes_log_lines()) echo_line(std::string(kModuleName) + ": " + std::string(text));
}

}  // namespace dexweb
