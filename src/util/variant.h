#pragma once
// The tagged value that name/value lists and recordset columns hand around. Its kinds carry
// the module's type codes (0 empty, 1 null, 2 16-bit integer, 3 32-bit integer, 4 single,
// 5 double, 6 currency, 7 date, 8 text, 9 object, 11 Boolean, 14 decimal, 17 byte).
// Conversions follow the module's rules and raise RuntimeError 13 (type mismatch),
// 6 (overflow) or 94 (invalid use of Null) when a value cannot be converted.

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "util/datetime.h"

namespace dexweb {

struct Empty {
  bool operator==(const Empty&) const = default;
};
struct Null {
  bool operator==(const Null&) const = default;
};
struct Currency {  // fixed point with four decimals: value * 10000
  std::int64_t scaled = 0;
  bool operator==(const Currency&) const = default;
};
struct Decimal {
  long double value = 0;
  bool operator==(const Decimal&) const = default;
};
using ObjectRef = std::shared_ptr<void>;

using Variant = std::variant<Empty, Null, std::int16_t, std::int32_t, float, double, Currency,
                             DateTime, std::string, ObjectRef, bool, Decimal, std::uint8_t>;

namespace vt {
inline constexpr int kEmpty = 0, kNull = 1, kInteger = 2, kLong = 3, kSingle = 4, kDouble = 5,
                     kCurrency = 6, kDate = 7, kString = 8, kObject = 9, kBoolean = 11,
                     kVariant = 12, kDecimal = 14, kByte = 17, kRecord = 36;
}

inline constexpr int kErrInvalidUseOfNull = 94;

int kind_code(const Variant& v);
bool is_null(const Variant& v);
bool is_empty(const Variant& v);

std::string to_text(const Variant& v);   // Empty -> "", Boolean -> "True"/"False"
double to_double(const Variant& v);      // texts must spell a number
std::int32_t to_long(const Variant& v);  // rounded half to even
bool to_bool(const Variant& v);          // texts: true/false/t/f/yes/no or a number
DateTime to_date(const Variant& v);
// The value converted to the kind of a type code; 8 and 36 and unknown codes give text,
// 9 and 12 give the value unchanged.
Variant convert_to(const Variant& v, int code);

// Numbers compare numerically, texts exactly, dates by time; a number and a text compare
// as numbers when the text spells one, otherwise by their text forms. Null and Empty sort
// first.
int compare(const Variant& a, const Variant& b);
bool equal(const Variant& a, const Variant& b);

}  // namespace dexweb
