#pragma once
// The settings text of a templates row: lines "name=value" separated by CR LF.

#include <cstdint>
#include <string_view>

#include "config/interface_settings.h"

namespace dexweb {

// Applies one row's columns to a record that has just been reset. Lines end only at a CR LF
// pair; a line is split at its first "=", and a line without one is ignored. Keys are
// lower-cased and trimmed of blanks, values trimmed of blanks; an unknown key only marks the
// record as having content. A key named again overwrites the earlier value. A non-empty
// subject or body sets its template. Never fails.
void parse_settings(InterfaceSettings& record, std::string_view settings, std::string_view subject,
                    std::string_view body);

// The value stored for a setting of the given kind from the trimmed text after "=".
SettingValue parse_setting_value(SettingKind kind, std::string_view value);

// The decimal number at the start of text (sign, digits, decimals), rounded half to even
// and held to the 32-bit range; 0 when text does not start with one.
std::int32_t leading_number(std::string_view text);

}  // namespace dexweb
