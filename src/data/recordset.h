#pragma once
// The rows a query returned: a forward-only, read-only cursor with typed column access by
// name (names compare without regard to case). All rows are read when the query runs, so a
// recordset holds no engine resources and a failure while reading is a failure of the
// query itself.
//
// Booleans: the embedded engine and drivers that report a Boolean type give bool values;
// use AsBool to read a flag whatever form a driver chose (1/0, t/f, true/false).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/datetime.h"
#include "util/variant.h"

namespace dexweb {

class Recordset {
 public:
  using Row = std::vector<Variant>;
  Recordset(std::vector<std::string> names, std::vector<Row> rows);

  // True when there is no current row (an empty result, or after the last row).
  bool Eof() const { return position_ >= rows_.size(); }
  void MoveNext();

  // The current row's value of the named column. RuntimeError 3265 for an unknown name,
  // 3021 when there is no current row.
  const Variant& Field(std::string_view name) const;
  bool IsNull(std::string_view name) const { return is_null(Field(name)); }
  // Null reads as empty text.
  std::string AsText(std::string_view name) const;
  // By content: true/t/yes/-1/1 or any non-zero number is true. Null raises 94.
  bool AsBool(std::string_view name) const;
  std::int32_t AsLong(std::string_view name) const;
  DateTime AsDate(std::string_view name) const;

  // Drops the rows; the recordset is then at its end.
  void Close();

 private:
  int index_of(std::string_view name) const;

  std::vector<std::string> names_;
  std::vector<Row> rows_;
  std::size_t position_ = 0;
};

// A flag's value from its text as drivers write it; raises 13 for text that is no flag.
bool flag_from_text(std::string_view text);

}  // namespace dexweb
