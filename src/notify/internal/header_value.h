#pragma once
// Text placed into a header line of a mail file. A reader of the file ends a header line at
// any CR or LF, so a value that holds one (a sender typed with a line break) would add
// header lines of the submitter's choosing, a "Bcc:" say.

#include <string>
#include <string_view>

namespace dexweb {

// The text before its first CR or LF, with every other control character (C0 controls, tab
// included, DEL and the C1 controls U+0080 to U+009F) turned into a blank.
std::string header_value(std::string_view text);

}  // namespace dexweb
