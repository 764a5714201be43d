#include "data/recordset.h"

#include "data/internal/error_numbers.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {

Recordset::Recordset(std::vector<std::string> names, std::vector<Row> rows)
    : names_(std::move(names)), rows_(std::move(rows)) {}

void Recordset::MoveNext() {
  if (Eof()) throw RuntimeError(err::kDbNoCurrentRecord, "No current record.", "Recordset");
  ++position_;
}

int Recordset::index_of(std::string_view name) const {
  for (std::size_t i = 0; i < names_.size(); ++i)
    if (text::iequals(names_[i], name)) return static_cast<int>(i);
  throw RuntimeError(err::kDbItemNotFound, "Item not found in this collection: " + std::string(name),
                     "Recordset");
}

const Variant& Recordset::Field(std::string_view name) const {
  int i = index_of(name);
  if (Eof()) throw RuntimeError(err::kDbNoCurrentRecord, "No current record.", "Recordset");
  return rows_[position_][static_cast<std::size_t>(i)];
}

std::string Recordset::AsText(std::string_view name) const {
  const Variant& v = Field(name);
  return is_null(v) ? std::string() : to_text(v);
}

bool flag_from_text(std::string_view text) {
  std::string t = text::to_lower(text::trim(text));
  if (t == "true" || t == "t" || t == "yes" || t == "y") return true;
  if (t == "false" || t == "f" || t == "no" || t == "n") return false;
  auto n = text::parse_number(t);
  if (!n) throw RuntimeError(err::kTypeMismatch, "Type mismatch", "Recordset");
  return *n != 0;
}

bool Recordset::AsBool(std::string_view name) const {
  const Variant& v = Field(name);
  if (auto* s = std::get_if<std::string>(&v)) return flag_from_text(*s);
  return to_bool(v);
}

std::int32_t Recordset::AsLong(std::string_view name) const { return to_long(Field(name)); }
DateTime Recordset::AsDate(std::string_view name) const { return to_date(Field(name)); }

void Recordset::Close() {
  rows_.clear();
  position_ = 0;
}

}  // namespace dexweb
