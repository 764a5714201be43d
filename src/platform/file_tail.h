#pragma once
// The end of a file that may be long (a log file).

#include <cstddef>
#include <string>

namespace dexweb::platform {

// The last max_bytes of the regular file at path (the whole file when shorter); empty text
// when it is missing, not a regular file or unreadable.
std::string read_file_tail(const std::string& path, std::size_t max_bytes);

}  // namespace dexweb::platform
