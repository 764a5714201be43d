#pragma once
// Lines for the person or journal behind standard error. Refusals, halts and warnings are
// written there always (under systemd standard error is the journal); the general log lines
// (start, each accepted and refused message, stop) only when standard error is a terminal.

#include <string_view>

namespace dexweb {

// True when standard error is a terminal, so log_event echoes the general log lines there.
bool echoes_log_lines();
// Writes the text as one line (a line break inside becomes a blank) and flushes. Never throws.
void echo_line(std::string_view text);

}  // namespace dexweb
