#include "intake/blacklist.h"

#include <cctype>
#include <cstdlib>

#include "intake/internal/intake_log.h"
#include "platform/files.h"
#include "util/text.h"
#include "util/variant.h"

namespace dexweb {
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
