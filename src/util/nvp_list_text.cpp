#include "util/nvp_list.h"
#include "util/text.h"

namespace dexweb {
namespace {

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
