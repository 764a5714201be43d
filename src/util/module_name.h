#pragma once
// The module's name in the gateway: the source of its own errors, its log file, its monitor
// reports, its unit and the prefix of its unique names.

#include <string_view>

namespace dexweb {

inline constexpr std::string_view kModuleName = "VTXWeb";

}  // namespace dexweb
