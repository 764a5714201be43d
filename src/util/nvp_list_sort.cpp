// The sorts are insertion sorts on purpose: they are stable, and unlike std::stable_sort
// they give a defined order even where the Variant ordering of mixed kinds is not a strict
// weak ordering.
#include <cctype>
#include <cstdlib>

#include "util/nvp_list.h"
#include "util/text.h"

namespace dexweb {
namespace {

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

}  // namespace

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

}  // namespace dexweb
