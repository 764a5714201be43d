#pragma once
// The module's ordered list of name/value pairs. Items keep insertion order and are
// addressed by 1-based index; names may repeat unless AddUnique is used. Each item carries
// a type code (the Variant kind codes) that says as what GetValueByIndex hands its value
// back. Lookups are linear scans from index 1 and take the first match; the sorts are
// stable and ascending.
//
// Index errors of GetNameByIndex, GetTypeByIndex and GetValueByIndex raise RuntimeError 9;
// the other index operations ignore indexes outside 1..Count.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "util/variant.h"

namespace dexweb {

class NVPList {
 public:
  // Slots added whenever the storage is full. Change it only while the list is empty.
  int GrowSize() const { return grow_size_; }
  void SetGrowSize(int slots) { grow_size_ = slots; }
  // Whether name lookups and SortByName tell upper from lower case (default true).
  bool CaseSensitive() const { return case_sensitive_; }
  void SetCaseSensitive(bool on) { case_sensitive_ = on; }

  // Each item as quotes, name, quotes, field delimiter, quotes, value text, quotes, record
  // delimiter (after the last record too). Nothing is escaped.
  std::string AsString(std::string_view record_delimiter = "\r\n",
                       std::string_view field_delimiter = "=",
                       std::string_view field_quotes = "") const;
  // Adds one text item per non-blank record of list_string and empties list_string.
  // A record without the field delimiter is all name. record_delimiter must not be empty.
  void LoadFromString(std::string& list_string, std::string_view record_delimiter = "\r\n",
                      std::string_view field_delimiter = "=");
  // Every name, or every value as text, each followed by CR LF.
  std::string NamesAsString() const;
  std::string ValuesAsString() const;

  // force_type 0 takes the value's own kind code. Add returns the new Count; AddUnique
  // returns 0 and changes nothing when the name is present.
  int AddUnique(std::string_view name, const Variant& value = Empty{}, int force_type = 0);
  int Add(std::string_view name = {}, Variant value = Empty{}, int force_type = 0);
  // Empties the list and frees its storage.
  void Clear();
  // Empties the list but keeps its storage, for a list that is filled again and again.
  void ClearKeepingStorage();
  int Count() const { return static_cast<int>(items_.size()); }

  std::string GetNameByIndex(int index) const;
  int GetTypeByIndex(int index) const;
  // The stored value converted to the item's type code (may raise the conversion's error).
  Variant GetValueByIndex(int index) const;
  // The item's name and value as stored, without a copy or a conversion.
  const std::string& NameAt(int index) const { return checked(index).name; }
  const Variant& StoredValueAt(int index) const { return checked(index).value; }
  // As GetValueByIndex for the first matching name; Null when there is none.
  Variant GetValueByName(std::string_view name) const;

  void SetNameByIndex(int index, std::string_view name);
  void SetValueByIndex(int index, const Variant& value, int force_type = 0);
  // Changes the first matching item; never adds one.
  void SetValueByName(std::string_view name, const Variant& value, int force_type = 0);
  void SetNameByValue(const Variant& value, std::string_view name);

  // 0, or empty text, when nothing matches.
  int GetIndexByName(std::string_view name) const;
  int GetIndexByValue(const Variant& value) const;
  std::string GetNameByValue(const Variant& value) const;

  void RemoveByIndex(int index);
  // Clamps start_index up to 1 and end_index down to Count, writing the clamped values
  // back, then removes that range (nothing when it is empty). Does nothing on an empty list.
  void RemoveRange(int& start_index, int& end_index);
  void RemoveByName(std::string_view name);
  void RemoveByValue(const Variant& value);

  void SortByName();
  // By the decimal number each name starts with (0 when it starts with none).
  void SortByNameAsValues();
  void SortByValue();

  // Item slots the storage holds now: grows by GrowSize at the 1st, (GrowSize+1)th, ... item.
  std::size_t Capacity() const { return capacity_; }

 private:
  struct Item {
    std::string name;
    Variant value;
    int type = vt::kEmpty;
  };

  bool valid(int index) const { return index >= 1 && index <= Count(); }
  const Item& checked(int index) const;
  bool names_match(std::string_view a, std::string_view b) const;
  void grow_if_full();
  static int type_for(const Variant& value, int force_type);

  std::vector<Item> items_;
  std::size_t capacity_ = 0;
  int grow_size_ = 10;
  bool case_sensitive_ = true;
};

}  // namespace dexweb
