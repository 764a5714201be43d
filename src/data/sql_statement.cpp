#include "data/sql_statement.h"

#include "util/text.h"

namespace dexweb {
namespace {

std::string literal(const SqlValue& value) {
  if (const auto* n = std::get_if<std::int64_t>(&value)) return std::to_string(*n);
  return "'" + text::replace_all(std::get<std::string>(value), "'", "''") + "'";
}

}  // namespace

void SqlStatement::bind(SqlValue value) {
  slots.push_back(text.size());
  text += '?';
  values.push_back(std::move(value));
}

std::string inline_values(const SqlStatement& statement) {
  if (statement.values.empty()) return statement.text;
  std::string out;
  std::size_t from = 0;
  for (std::size_t i = 0; i < statement.slots.size(); ++i) {
    out.append(statement.text, from, statement.slots[i] - from);
    out += literal(statement.values[i]);
    from = statement.slots[i] + 1;
  }
  out.append(statement.text, from);
  return out;
}

}  // namespace dexweb
