#include "intake/web_message.h"

#include <algorithm>
#include <string>

#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::string_view kCrLf = "\r\n";

// The text after the first occurrence of delimiter (found without regard to case), or
// fallback when there is none or it starts at the last character.
std::string text_after(std::string_view text, std::string_view delimiter, std::string_view fallback) {
  const std::size_t at = delimiter.empty() ? std::string::npos : text::ifind(text, delimiter);
  if (at == std::string::npos || at + 1 == text.size()) return std::string(fallback);
  return std::string(text.substr(std::min(text.size(), at + delimiter.size())));
}

// The value of a field line: what follows its key.
std::string field_value(const std::string& line) { return text_after(line, "=", ""); }

// Joins the message from the "msg=" line at index on: each part followed by CR LF, then the
// last CR LF taken off again.
std::string message_from(const NVPList& lines, int index) {
  std::string message = text::trim(field_value(lines.GetNameByIndex(index)));
  message += kCrLf;
  for (int i = index + 1; i <= lines.Count(); ++i) {
    message += lines.GetNameByIndex(i);
    message += kCrLf;
  }
  message.resize(message.size() - kCrLf.size());
  return message;
}

}  // namespace

std::string strip_nulls(std::string_view text) {
  std::string out(text);
  std::erase(out, '\0');
  return out;
}

void split_web_lines(std::string_view content, NVPList& lines) {
  while (!content.empty()) {
    const std::size_t end = content.find(kCrLf);
    if (end == std::string_view::npos) {
      lines.Add(content, false);
      return;
    }
    lines.Add(content.substr(0, end), false);
    content.remove_prefix(end + kCrLf.size());
  }
}

void parse_web_lines(const NVPList& lines, WebMessage& msg) {
  msg.user.clear();
  msg.frm.clear();
  msg.subject.clear();
  msg.message.clear();
  for (int i = 1; i <= lines.Count(); ++i) {
    const std::string line = lines.GetNameByIndex(i);
    if (text::istarts_with(line, "user=")) {
      msg.user = text::trim(text::to_lower(field_value(line)));
    } else if (text::istarts_with(line, "frm=")) {
      msg.frm = text::trim(field_value(line));
    } else if (text::istarts_with(line, "subject=")) {
      msg.subject = text::trim(field_value(line));
    } else if (text::istarts_with(line, "msg=")) {
      msg.message = message_from(lines, i);
      return;
    }
  }
}

std::string mask_message(std::string_view message, int keep_chars) {
  if (keep_chars < 1) return std::string(message);
  const std::size_t keep = static_cast<std::size_t>(keep_chars);
  const std::size_t length = text::length(message);
  if (length <= 2 * keep) return {};
  return text::left(message, keep) + std::string(length - 2 * keep, '.') + text::right(message, keep);
}

}  // namespace dexweb
