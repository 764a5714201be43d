#include "util/nvp_list.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {
namespace {

// The sorts are insertion sorts on purpose: they are stable, and unlike std::stable_sort
// they give a defined order even where the Variant ordering of mixed kinds is not a strict
// weak ordering.
template <typename Item, typename Greater>
void insertion_sort(std::vector<Item>& items, Greater greater) {
  for (std::size_t i = 1; i < items.size(); ++i) {
    Item taken = std::move(items[i]);
    std::size_t j = i;
    for (; j > 0 && greater(items[j - 1], taken); --j) items[j] = std::move(items[j - 1]);
    items[j] = std::move(taken);
  }
}

bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

std::size_t skip_digits(std::string_view s, std::size_t i) {
  while (i < s.size() && is_digit(s[i])) ++i;
  return i;
}

// The decimal number a name starts with (sign, digits, fraction, exponent); 0 for none.
double leading_number(std::string_view s) {
  std::size_t begin = s.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return 0;
  std::size_t i = begin;
  if (s[i] == '+' || s[i] == '-') ++i;
  std::size_t digits_from = i;
  i = skip_digits(s, i);
  if (i < s.size() && s[i] == '.') i = skip_digits(s, i + 1);
  if (i == digits_from || (i == digits_from + 1 && s[digits_from] == '.')) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && is_digit(s[j])) i = skip_digits(s, j);
  }
  return std::strtod(std::string(s.substr(begin, i - begin)).c_str(), nullptr);
}

constexpr std::string_view kSpacing = "\r\n \t";

// Text of a value inside a joined form: Null joins as nothing, as it does in concatenation.
std::string joined_text(const Variant& value) { return is_null(value) ? std::string() : to_text(value); }

std::string trim_end(std::string_view s) {
  auto end = s.find_last_not_of(kSpacing);
  return end == std::string_view::npos ? std::string() : std::string(s.substr(0, end + 1));
}

std::string trim_start(std::string_view s) {
  auto begin = s.find_first_not_of(kSpacing);
  return begin == std::string_view::npos ? std::string() : std::string(s.substr(begin));
}

}  // namespace

const NVPList::Item& NVPList::checked(int index) const {
  if (!valid(index)) throw RuntimeError(err::kSubscriptOutOfRange, "Subscript out of range");
  return items_[static_cast<std::size_t>(index - 1)];
}

bool NVPList::names_match(std::string_view a, std::string_view b) const {
  return case_sensitive_ ? a == b : text::iequals(a, b);
}

int NVPList::type_for(const Variant& value, int force_type) {
  return force_type != 0 ? force_type : kind_code(value);
}

// Storage grows in whole GrowSize steps, so Capacity() shows each step as it happens.
void NVPList::grow_if_full() {
  std::size_t step = static_cast<std::size_t>(std::max(grow_size_, 1));
  if (items_.size() < capacity_) return;
  // The slot count follows the GrowSize rule; the vector itself grows geometrically, so
  // that a long log queue is not copied once per GrowSize items.
  capacity_ = items_.size() + step;
}

int NVPList::Add(std::string_view name, Variant value, int force_type) {
  grow_if_full();
  const int type = type_for(value, force_type);
  items_.push_back(Item{std::string(name), std::move(value), type});
  return Count();
}

int NVPList::AddUnique(std::string_view name, const Variant& value, int force_type) {
  if (GetIndexByName(name) != 0) return 0;
  return Add(name, value, force_type);
}

void NVPList::Clear() {
  std::vector<Item>().swap(items_);
  capacity_ = 0;
}

void NVPList::ClearKeepingStorage() {
  items_.clear();
  capacity_ = 0;
}

std::string NVPList::GetNameByIndex(int index) const { return checked(index).name; }

int NVPList::GetTypeByIndex(int index) const { return checked(index).type; }

Variant NVPList::GetValueByIndex(int index) const {
  const Item& item = checked(index);
  // Codes without a kind of their own (empty, null) hand the value back as text.
  bool as_text = item.type == vt::kEmpty || item.type == vt::kNull;
  return convert_to(item.value, as_text ? vt::kString : item.type);
}

Variant NVPList::GetValueByName(std::string_view name) const {
  int index = GetIndexByName(name);
  return index == 0 ? Variant{Null{}} : GetValueByIndex(index);
}

void NVPList::SetNameByIndex(int index, std::string_view name) {
  if (valid(index)) items_[static_cast<std::size_t>(index - 1)].name = name;
}

void NVPList::SetValueByIndex(int index, const Variant& value, int force_type) {
  if (!valid(index)) return;
  Item& item = items_[static_cast<std::size_t>(index - 1)];
  item.value = value;
  item.type = type_for(value, force_type);
}

void NVPList::SetValueByName(std::string_view name, const Variant& value, int force_type) {
  SetValueByIndex(GetIndexByName(name), value, force_type);
}

void NVPList::SetNameByValue(const Variant& value, std::string_view name) {
  SetNameByIndex(GetIndexByValue(value), name);
}

int NVPList::GetIndexByName(std::string_view name) const {
  for (int i = 1; i <= Count(); ++i)
    if (names_match(items_[static_cast<std::size_t>(i - 1)].name, name)) return i;
  return 0;
}

int NVPList::GetIndexByValue(const Variant& value) const {
  for (int i = 1; i <= Count(); ++i)
    if (equal(items_[static_cast<std::size_t>(i - 1)].value, value)) return i;
  return 0;
}

std::string NVPList::GetNameByValue(const Variant& value) const {
  int index = GetIndexByValue(value);
  return index == 0 ? std::string() : GetNameByIndex(index);
}

void NVPList::RemoveByIndex(int index) {
  if (!valid(index)) return;
  if (Count() == 1) return Clear();
  items_.erase(items_.begin() + (index - 1));
}

void NVPList::RemoveRange(int& start_index, int& end_index) {
  if (Count() == 0) return;
  start_index = std::max(start_index, 1);
  end_index = std::min(end_index, Count());
  if (start_index == 1 && end_index == Count()) return Clear();
  if (end_index < start_index) return;
  items_.erase(items_.begin() + (start_index - 1), items_.begin() + end_index);
}

void NVPList::RemoveByName(std::string_view name) { RemoveByIndex(GetIndexByName(name)); }

void NVPList::RemoveByValue(const Variant& value) { RemoveByIndex(GetIndexByValue(value)); }

void NVPList::SortByName() {
  if (case_sensitive_) {
    insertion_sort(items_, [](const Item& a, const Item& b) { return a.name > b.name; });
  } else {
    insertion_sort(items_, [](const Item& a, const Item& b) {
      return text::to_lower(a.name) > text::to_lower(b.name);
    });
  }
}

void NVPList::SortByNameAsValues() {
  insertion_sort(items_, [](const Item& a, const Item& b) {
    return leading_number(a.name) > leading_number(b.name);
  });
}

void NVPList::SortByValue() {
  insertion_sort(items_, [](const Item& a, const Item& b) { return compare(a.value, b.value) > 0; });
}

std::string NVPList::AsString(std::string_view record_delimiter, std::string_view field_delimiter,
                              std::string_view field_quotes) const {
  std::string out;
  for (const Item& item : items_) {
    out.append(field_quotes).append(item.name).append(field_quotes).append(field_delimiter);
    out.append(field_quotes).append(joined_text(item.value)).append(field_quotes);
    out.append(record_delimiter);
  }
  return out;
}

std::string NVPList::NamesAsString() const {
  std::string out;
  for (const Item& item : items_) out.append(item.name).append("\r\n");
  return out;
}

std::string NVPList::ValuesAsString() const {
  std::string out;
  for (const Item& item : items_) out.append(joined_text(item.value)).append("\r\n");
  return out;
}

void NVPList::LoadFromString(std::string& list_string, std::string_view record_delimiter,
                             std::string_view field_delimiter) {
  std::string_view rest = list_string;
  while (!rest.empty()) {
    // An empty record delimiter would never advance: the whole text is then one record.
    auto end = record_delimiter.empty() ? std::string_view::npos : rest.find(record_delimiter);
    std::string_view raw = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + record_delimiter.size());
    std::string record = text::trim_chars(raw, kSpacing);
    if (record.empty()) continue;
    auto split = field_delimiter.empty() ? std::string::npos : record.find(field_delimiter);
    if (split == std::string::npos) {
      Add(record, std::string(), vt::kString);
    } else {
      Add(trim_end(std::string_view(record).substr(0, split)),
          trim_start(std::string_view(record).substr(split + field_delimiter.size())), vt::kString);
    }
  }
  list_string.clear();
}

}  // namespace dexweb
