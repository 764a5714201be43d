#pragma once
// The recipient list of a web message (its "subject=" field) as single names or PINs.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace dexweb {

inline constexpr std::size_t kAccountItemLimit = 40;
inline constexpr std::size_t kAdHocItemLimit = 80;
inline constexpr std::size_t kMaxSeparatedItems = 500;

// Runs of spaces become one space.
std::string collapse_spaces(std::string_view text);

// Items separated by spaces, commas, semicolons or tabs, each cut to item_limit characters.
// After kMaxSeparatedItems items the rest of the list, cut to the limit, is one last item.
std::vector<std::string> split_recipient_list(std::string_view list, std::size_t item_limit);

}  // namespace dexweb
