#pragma once
// The recipient's row of the users table, for the placeholders "%FullName%" and
// "%Comment1%" to "%Comment4%". User names compare without regard to case, as the recipient
// list and the gateway's other databases compare them.

#include <optional>
#include <string>

#include "notify/template_expansion.h"

namespace dexweb {

class DBObject;
class Dialect;

// The SELECT of the first row whose user is recipient, in the dialect given, e.g. on SQL
// Server "SELECT TOP 1 [full_name], [extra1], [extra2], [extra3], [extra4] FROM [users]
// WITH (NOLOCK) WHERE ([user] = 'bob' )".
std::string user_row_query(const Dialect& dialect, const std::string& recipient);

// The row's five columns (Null read as empty text), or nullopt when no row matches.
// Database failures are raised.
std::optional<UserColumns> find_user_row(DBObject& db, const std::string& recipient);

}  // namespace dexweb
