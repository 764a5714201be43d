#pragma once
// The backslash escapes of the gateway's settings texts: a backslash followed by three
// decimal digits, the first 0 to 2, stands for the Windows-1252 character of that code
// ("a\013\010b" holds a CR LF). There is no escape for the backslash itself.

#include <string>
#include <string_view>

namespace dexweb {

// Decodes every escape; anything else, including codes 256 to 299 (which have no character)
// and a backslash not followed by three such digits, is kept as written.
std::string decode_escapes(std::string_view text);

}  // namespace dexweb
