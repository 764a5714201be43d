#include "notify/internal/user_row.h"

#include "data/db_object.h"
#include "data/dialect.h"
#include "data/sql_text.h"

namespace dexweb {

std::string user_row_query(const Dialect& dialect, const std::string& recipient) {
  return dialect.select_top1("[full_name], [extra1], [extra2], [extra3], [extra4] FROM [users]" +
                             dialect.table_hint() + " WHERE (" +
                             dialect.equals_ignoring_case("[user]", sql_string(recipient)) + ")");
}

std::optional<UserColumns> find_user_row(DBObject& db, const std::string& recipient) {
  // Opened first, so that the dialect and table hint are those of the open database.
  db.OpenDb(1);
  auto rs = db.OpenRecordset(user_row_query(db.SqlDialect(), recipient));
  if (!rs || rs->Eof()) return std::nullopt;
  return UserColumns{rs->AsText("full_name"), rs->AsText("extra1"), rs->AsText("extra2"), rs->AsText("extra3"),
                     rs->AsText("extra4")};
}

}  // namespace dexweb
