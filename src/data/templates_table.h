#pragma once
// The rows of the templates table that hold interface settings: type 10 with the
// interface's name, and type 0 named "global", names compared without regard to case (a
// row named "DexWeb" is the dexweb row), as on every database of the gateway.

#include <string>
#include <string_view>

#include "config/interface_settings.h"

namespace dexweb {

class DBObject;
class Dialect;

inline constexpr int kDexWebInterface = 4;

// 1 "dexascii", 2 "dexmail", 4 "dexweb", 5 "dextap", 6 "dexserial", any other "gui".
std::string interface_name(int interface_number);

// The SELECT of the interface's row and the global row, with the dialect's table hint and
// name comparison, in the module's bracketed SQL.
std::string templates_query(const Dialect& dialect, std::string_view interface_name);

// Resets both records, then reads both rows (read-only, forward-only, default time-out,
// failures raised) and parses each into its record; of several rows of one kind the last
// wins. A missing row leaves its record at the defaults, without content.
void load_templates(int interface_number, DBObject& db, InterfaceSettings& interface_record,
                    InterfaceSettings& global_record);

// Defaults, then the global row, then the row of interface 4 "dexweb", each field only
// where the row set it. Database errors propagate.
InterfaceSettings effective_interface_settings(DBObject& db);

}  // namespace dexweb
