#pragma once
// SQL literals for hand-written statements, in the dialect of the database they are for.
// Each literal carries a blank on each side where the module's statements expect one.

#include <string>

#include "util/variant.h"

namespace dexweb {

class Dialect;

// Blank, quote, the text with every quote doubled, quote, blank: it's -> " 'it''s' ".
// A Null value gives " NULL ".
std::string sql_string(const Variant& value);
// The date literal of value when it is a date or text that reads as one, else of server_now.
std::string sql_date(const Dialect& dialect, const Variant& value);
// Blank, the value's text form, blank. A Null value gives " NULL ".
std::string sql_number(const Variant& value);
// The database's "now": the server's own clock on a server, server_now's literal otherwise.
std::string db_now(const Dialect& dialect);

}  // namespace dexweb
