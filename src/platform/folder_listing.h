#pragma once
// Counting a folder's message files from their names alone.

#include <cstddef>
#include <string>
#include <string_view>

namespace dexweb::platform {

// How many entries of folder have names ending with suffix (without regard to case), from
// the names alone: no entry is examined, so a large folder costs one pass over its names.
// Raises the file error (52..76) when the folder cannot be listed.
std::size_t count_names(const std::string& folder, std::string_view suffix);

}  // namespace dexweb::platform
