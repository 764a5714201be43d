#include "util/variant.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr int kCodes[] = {vt::kEmpty,    vt::kNull,  vt::kInteger, vt::kLong,   vt::kSingle,
                          vt::kDouble,   vt::kCurrency, vt::kDate, vt::kString, vt::kObject,
                          vt::kBoolean,  vt::kDecimal, vt::kByte};
static_assert(std::size(kCodes) == std::variant_size_v<Variant>);

[[noreturn]] void mismatch() { throw RuntimeError(err::kTypeMismatch, "Type mismatch"); }
[[noreturn]] void overflow() { throw RuntimeError(err::kOverflow, "Overflow"); }
[[noreturn]] void null_use() { throw RuntimeError(kErrInvalidUseOfNull, "Invalid use of Null"); }

std::string number_text(double d) {
  if (d == std::floor(d) && std::fabs(d) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", d);
    return buf;
  }
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", d);
  return buf;
}

// Days since 1899-12-30, the numeric form of a date.
double date_serial(DateTime t) {
  using namespace std::chrono;
  auto base = local_days{year{1899} / December / 30};
  return duration<double, days::period>(t - base).count();
}

DateTime from_serial(double d) {
  using namespace std::chrono;
  auto base = DateTime{local_days{year{1899} / December / 30}};
  return base + round<milliseconds>(duration<double, days::period>(d));
}

bool as_number(const Variant& v, double& out) {
  return std::visit(
      [&](const auto& x) -> bool {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, Empty>) { out = 0; return true; }
        else if constexpr (std::is_same_v<T, bool>) { out = x ? -1 : 0; return true; }
        else if constexpr (std::is_same_v<T, Currency>) { out = double(x.scaled) / 10000; return true; }
        else if constexpr (std::is_same_v<T, Decimal>) { out = double(x.value); return true; }
        else if constexpr (std::is_same_v<T, DateTime>) { out = date_serial(x); return true; }
        else if constexpr (std::is_arithmetic_v<T>) { out = double(x); return true; }
        else if constexpr (std::is_same_v<T, std::string>) {
          auto n = text::parse_number(x);
          if (!n) return false;
          out = *n;
          return true;
        } else return false;
      },
      v);
}

}  // namespace

int kind_code(const Variant& v) { return kCodes[v.index()]; }
bool is_null(const Variant& v) { return std::holds_alternative<Null>(v); }
bool is_empty(const Variant& v) { return std::holds_alternative<Empty>(v); }

std::string to_text(const Variant& v) {
  return std::visit(
      [](const auto& x) -> std::string {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, Empty>) return {};
        else if constexpr (std::is_same_v<T, Null>) null_use();
        else if constexpr (std::is_same_v<T, std::string>) return x;
        else if constexpr (std::is_same_v<T, bool>) return x ? "True" : "False";
        else if constexpr (std::is_same_v<T, DateTime>) return format_datetime(x);
        else if constexpr (std::is_same_v<T, ObjectRef>) mismatch();
        else if constexpr (std::is_same_v<T, Currency>) return number_text(double(x.scaled) / 10000);
        else if constexpr (std::is_same_v<T, Decimal>) return number_text(double(x.value));
        else return number_text(double(x));
      },
      v);
}

double to_double(const Variant& v) {
  if (is_null(v)) null_use();
  double d;
  if (!as_number(v, d)) mismatch();
  return d;
}

std::int32_t to_long(const Variant& v) {
  double d = to_double(v);
  if (!(d >= -2147483648.5 && d < 2147483647.5)) overflow();
  return static_cast<std::int32_t>(text::round_half_even(d));
}

bool to_bool(const Variant& v) {
  if (is_null(v)) null_use();
  if (auto* s = std::get_if<std::string>(&v)) {
    std::string t = text::to_lower(text::trim(*s));
    if (t == "true" || t == "t" || t == "yes" || t == "y") return true;
    if (t == "false" || t == "f" || t == "no" || t == "n") return false;
  }
  if (std::holds_alternative<DateTime>(v)) mismatch();
  return to_double(v) != 0;
}

DateTime to_date(const Variant& v) {
  if (is_null(v)) null_use();
  if (auto* t = std::get_if<DateTime>(&v)) return *t;
  if (auto* s = std::get_if<std::string>(&v)) {
    if (auto t = parse_datetime(text::trim(*s))) return *t;
  }
  double d;
  if (std::holds_alternative<std::string>(v) || !as_number(v, d)) mismatch();
  return from_serial(d);
}

Variant convert_to(const Variant& v, int code) {
  switch (code) {
    case vt::kEmpty: return Empty{};
    case vt::kNull: return Null{};
    case vt::kInteger: {
      std::int32_t n = to_long(v);
      if (n < std::numeric_limits<std::int16_t>::min() || n > std::numeric_limits<std::int16_t>::max()) overflow();
      return static_cast<std::int16_t>(n);
    }
    case vt::kLong: return to_long(v);
    case vt::kSingle: return static_cast<float>(to_double(v));
    case vt::kDouble: return to_double(v);
    case vt::kCurrency: return Currency{std::llround(to_double(v) * 10000)};
    case vt::kDate: return to_date(v);
    case vt::kBoolean: return to_bool(v);
    case vt::kDecimal: return Decimal{static_cast<long double>(to_double(v))};
    case vt::kByte: {
      std::int32_t n = to_long(v);
      if (n < 0 || n > 255) overflow();
      return static_cast<std::uint8_t>(n);
    }
    case vt::kObject:
    case vt::kVariant: return v;
    default: return is_null(v) ? Variant{Null{}} : Variant{to_text(v)};
  }
}

int compare(const Variant& a, const Variant& b) {
  bool a_low = is_null(a) || is_empty(a), b_low = is_null(b) || is_empty(b);
  if (a_low || b_low) return int(b_low) - int(a_low);
  double x, y;
  bool a_text = std::holds_alternative<std::string>(a), b_text = std::holds_alternative<std::string>(b);
  if (!(a_text && b_text) && as_number(a, x) && as_number(b, y)) return x < y ? -1 : (x > y ? 1 : 0);
  std::string s = to_text(a), t = to_text(b);
  return s < t ? -1 : (s > t ? 1 : 0);
}

bool equal(const Variant& a, const Variant& b) {
  if (is_null(a) || is_null(b)) return false;
  if (std::holds_alternative<ObjectRef>(a) || std::holds_alternative<ObjectRef>(b)) return a == b;
  return compare(a, b) == 0;
}

}  // namespace dexweb
