#include "logging/stderr_echo.h"

#include <cstdio>
#include <string>

#include "platform/terminal.h"

namespace dexweb {

bool echoes_log_lines() {
  // Standard error stays what it was at the start; asked for every log line otherwise.
  static const bool terminal = platform::is_terminal(2);
  return terminal;
}

void echo_line(std::string_view text) {
  std::string line(text);
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace dexweb
