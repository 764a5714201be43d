#include "util/nvp_list.h"

#include <algorithm>

#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {

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

}  // namespace dexweb
