#pragma once
// The format of a web message file: CR LF separated lines; the field lines "user=", "frm=",
// "subject=" (the recipient list) and "msg=" (keys without regard to case). "msg=" is the
// last field: every line after it belongs to the message. Other lines are ignored, and a
// field given twice takes the later line.

#include <string_view>

#include "intake/web_message.h"
#include "util/nvp_list.h"

namespace dexweb {

// Adds one entry per line of content to lines (the line as the name, False as the value).
// Only CR LF ends a line; a final CR LF adds no empty line.
void split_web_lines(std::string_view content, NVPList& lines);

// Sets user (lower case, trimmed), frm, subject (each trimmed) and message from the lines;
// the four are emptied first. The message is the trimmed rest of the "msg=" line and every
// later line, joined by CR LF.
void parse_web_lines(const NVPList& lines, WebMessage& msg);

}  // namespace dexweb
