#pragma once
// Trimming of "blank" characters as statements are checked: a blank is any character whose
// ANSI (Windows-1252) code is below 33 or above 127, or that has no ANSI code at all.

#include <string>
#include <string_view>

namespace dexweb {

std::string trim_blanks(std::string_view s);
std::string rtrim_blanks(std::string_view s);
std::string ltrim_blanks(std::string_view s);

}  // namespace dexweb
