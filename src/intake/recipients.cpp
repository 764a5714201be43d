#include "intake/recipients.h"

#include <cctype>
#include <cstdlib>

#include "data/db_object.h"
#include "intake/internal/intake_log.h"
#include "logging/error_policy.h"
#include "platform/folder.h"
#include "platform/files.h"
#include "util/text.h"
#include "util/variant.h"

namespace dexweb {
namespace {

bool flag(const Recordset& rs, std::string_view column) { return !rs.IsNull(column) && rs.AsBool(column); }

}  // namespace

void RecipientList::ensure_loaded(DBObject& db, ErrorPolicy& policy) {
  if (!entries_.empty()) return;
  policy.start_afresh();
  policy.with_retry("Procedure: GetRecipientList", [&] { load(db); });
}

std::optional<WebRecipient> RecipientList::find_web_recipient(DBObject& db, ErrorPolicy& policy,
                                                             std::string_view user) {
  ensure_loaded(db, policy);
  auto found = entries_.find(text::to_lower(user));
  if (found == entries_.end()) return std::nullopt;
  return found->second;
}

void RecipientList::load(DBObject& db) {
  entries_.clear();
  auto rs = db.OpenRecordset(
      "SELECT [user], [ad_hoc], [multi_page], [web_service], [group_list], [display_group] FROM [users]" +
          db.SqlDialect().table_hint(),
      {.timeout = db.Settings().long_timeout});
  for (; !rs->Eof(); rs->MoveNext()) {
    if (rs->IsNull("display_group") || rs->AsBool("display_group")) continue;
    const std::string name = rs->AsText("user");
    WebRecipient r{flag(*rs, "ad_hoc"), flag(*rs, "multi_page"), flag(*rs, "web_service"), flag(*rs, "group_list")};
    if (!entries_.emplace(text::to_lower(name), r).second)
      log_debug("User name ignored, another row has it in other case: " + name);
  }
  free_recordset(rs);
}

std::string collapse_spaces(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  for (char c : in)
    if (c != ' ' || out.empty() || out.back() != ' ') out += c;
  return out;
}

std::vector<std::string> split_recipient_list(std::string_view list, std::size_t item_limit) {
  std::string spaced(list);
  for (char& c : spaced)
    if (c == ';' || c == ',' || c == '\t') c = ' ';
  const std::string all = text::trim(collapse_spaces(spaced));
  // Collapsed and trimmed, so every space separates two non-empty items.
  std::string_view rest = all;
  std::vector<std::string> items;
  for (std::size_t space = rest.find(' '); space != std::string_view::npos && items.size() < kMaxSeparatedItems;
       space = rest.find(' ')) {
    items.push_back(text::left(rest.substr(0, space), item_limit));
    rest.remove_prefix(space + 1);
  }
  if (!rest.empty()) items.push_back(text::left(rest, item_limit));
  return items;
}

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// The characters of the leading number, blanks left out: sign, digits, one decimal point,
// an exponent.
std::string number_prefix(std::string_view line) {
  std::string out;
  bool digits = false, point = false, exponent = false;
  std::size_t i = 0;
  while (i < line.size() && is_blank(line[i])) ++i;
  if (i < line.size() && (line[i] == '-' || line[i] == '+')) out += line[i++];
  for (; i < line.size(); ++i) {
    const char c = line[i];
    const bool after_exponent_mark = !out.empty() && out.back() == 'e';
    if (is_blank(c)) continue;
    if (is_digit(c)) {
      out += c;
      digits = true;
    } else if (c == '.' && !point && !exponent) {
      out += c;
      point = true;
    } else if ((c == 'e' || c == 'E' || c == 'd' || c == 'D') && digits && !exponent) {
      out += 'e';
      exponent = true;
    } else if ((c == '-' || c == '+') && after_exponent_mark) {
      out += c;
    } else {
      break;
    }
  }
  return out;
}

std::vector<std::string> file_lines(std::string_view content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = content.size();
    lines.emplace_back(content.substr(start, end - start));
    if (end < content.size() && content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::string blacklist_entry(std::string_view line) {
  const std::string number = number_prefix(line);
  const double value = std::strtod(number.c_str(), nullptr);
  return text::trim(to_text(Variant{value == 0 ? 0.0 : value}));
}

void BlackList::load(const std::string& db_dir) {
  entries_.clear();
  const std::string path = platform::resolve_name_nocase(db_dir, "blacklist");
  if (!is_file(path)) return;
  const std::vector<std::string> lines = file_lines(text::decode_bytes(platform::read_file(path, kReadLimit)));
  for (const std::string& line : lines) {
    if (blacklist_count() == kMaxEntries) {
      log_detail("Blacklist holds " + std::to_string(lines.size()) + " lines; only the first " +
                 std::to_string(kMaxEntries) + " are used");
      break;
    }
    entries_.push_back(blacklist_entry(line));
  }
}

bool BlackList::in_blacklist(std::string_view pin) const {
  for (const std::string& entry : entries_)
    if (entry.size() <= pin.size() && pin.substr(0, entry.size()) == entry) return true;
  return false;
}

}  // namespace dexweb
