#pragma once
// Makes report text safe for the "|"-separated datagrams and the one-line log formats.

#include <string>
#include <string_view>

#include "util/string_builder.h"

namespace dexweb {

// Every character outside space..tilde, and "|", becomes "<" + its code point in decimal
// + ">" (a tab <9>, CR LF <13><10>, "|" <124>). The result is plain ASCII. builder is the
// caller's scratch buffer and is cleared first.
std::string sanitize_log_text(std::string_view text, StringBuilder& builder);

}  // namespace dexweb
