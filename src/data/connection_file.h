#pragma once
// The server connection-string file (SqlServerConnectionString.txt in DB_Dir): ODBC
// clauses, one per line, plus the module's own keys, which are taken out of the text:
//   # ...                 a comment line
//   vtsqlisolation=...    the session's isolation level (one of the five; else READ COMMITTED)
//   vtdbshorttimeout=, vtdbmediumtimeout=, vtdblongtimeout=, vtdbretries=
//                         a setting, used only when the registry left it unset (or 0)
//   vtencrypteduid=, vtencryptedpwd=
//                         user id and password, stored encoded; become UID= and PWD= clauses
// Keys are matched without regard to case; lines may end in CR LF or LF.

#include <string>

#include "data/database_settings.h"

namespace dexweb {

struct ServerConnection {
  // The remaining clauses, each line ended by CR LF, UID and PWD last.
  std::string connection_string;
  // The same clauses joined with nothing between them, each ended by ";", as ODBC drivers
  // want them.
  std::string driver_clauses;
};

// Reads and processes the file, writing into settings its isolation level and the values
// the file may fill in (those the registry left unset). Raises the file's
// RuntimeError when it cannot be read.
ServerConnection read_connection_file(const std::string& path, DatabaseSettings& settings);

// The isolation level a vtsqlisolation value selects.
std::string isolation_level_for(std::string_view value);

}  // namespace dexweb
