#pragma once
// A statement whose values may travel beside its text. Engines that bind parameters run
// the text with a "?" in each slot and the values bound there, so a statement run again
// with other values is parsed once; the others, and every log line, get the text with the
// values written in as SQL literals, exactly as if they had been written there from the
// start.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace dexweb {

// A bound value: an integer, or a text (written in as a quoted literal).
using SqlValue = std::variant<std::int64_t, std::string>;

struct SqlStatement {
  SqlStatement() = default;
  // A statement with every value already written in.
  explicit SqlStatement(std::string sql) : text(std::move(sql)) {}

  // Appends a "?" and its value.
  void bind(SqlValue value);

  std::string text;
  // Where each "?" placeholder is in text, and its value, in order.
  std::vector<std::size_t> slots;
  std::vector<SqlValue> values;
};

// The statement's text with each value written in: a text as 'it''s', an integer in digits.
std::string inline_values(const SqlStatement& statement);

}  // namespace dexweb
