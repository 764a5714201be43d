#include "data/sql_literals.h"

#include "data/dialect.h"
#include "platform/clock.h"
#include "util/text.h"

namespace dexweb {

std::string sql_string(const Variant& value) {
  if (is_null(value)) return " NULL ";
  return " '" + text::replace_all(to_text(value), "'", "''") + "' ";
}

std::string sql_date(const Dialect& dialect, const Variant& value) {
  DateTime when = platform::server_now();
  if (auto* d = std::get_if<DateTime>(&value)) {
    when = *d;
  } else if (auto* s = std::get_if<std::string>(&value)) {
    if (auto parsed = parse_datetime(text::trim(*s))) when = *parsed;
  }
  return dialect.date_literal(when);
}

std::string sql_number(const Variant& value) {
  if (is_null(value)) return " NULL ";
  return " " + to_text(value) + " ";
}

std::string db_now(const Dialect& dialect) { return dialect.now_expression(); }

}  // namespace dexweb
