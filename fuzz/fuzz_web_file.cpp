// A web message file as the intake reads it: decoded, NULs stripped, split into lines, the
// fields taken, the recipient list split both ways and the message masked for notices.

#include "fuzz_support.h"
#include "intake/recipients.h"
#include "intake/web_message.h"
#include "util/text.h"

namespace {

using dexweb::fuzz::require;
namespace text = dexweb::text;

constexpr std::string_view kCrLf = "\r\n";

bool blank_at_ends(std::string_view s) { return !s.empty() && (s.front() == ' ' || s.back() == ' '); }

void check_lines(const std::string& content, const dexweb::NVPList& lines) {
  // Joining the lines with CR LF gives the content back, less one final CR LF.
  std::string joined;
  for (int i = 1; i <= lines.Count(); ++i) {
    if (i > 1) joined += kCrLf;
    joined += lines.GetNameByIndex(i);
  }
  std::string expected = content;
  if (expected.ends_with(kCrLf)) expected.resize(expected.size() - kCrLf.size());
  require(joined == expected, "SplitLines joined by CR LF gives the content back");
  for (int i = 1; i <= lines.Count(); ++i)
    require(lines.GetNameByIndex(i).find(kCrLf) == std::string::npos, "no line holds a CR LF");
}

void check_fields(const dexweb::WebMessage& msg) {
  require(!blank_at_ends(msg.user) && !blank_at_ends(msg.frm) && !blank_at_ends(msg.subject),
          "user, frm and subject are trimmed");
  require(msg.message.empty() || msg.message.front() != ' ', "the message starts trimmed");
  for (const std::string* field : {&msg.user, &msg.frm, &msg.subject, &msg.message})
    require(field->find('\0') == std::string::npos, "no field holds a NUL");
}

void check_recipients(std::string_view list, std::size_t limit) {
  const auto items = dexweb::split_recipient_list(list, limit);
  require(items.size() <= dexweb::kMaxSeparatedItems + 1, "at most one item past the separated ones");
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string& item = items[i];
    require(!item.empty(), "no recipient item is empty");
    require(text::length(item) <= limit, "every item is cut to the limit");
    require(item.find_first_of(",;\t") == std::string::npos, "no item holds a comma, semicolon or tab");
    if (i < dexweb::kMaxSeparatedItems)
      require(item.find(' ') == std::string::npos, "a separated item holds no space");
  }
}

void check_mask(const std::string& message, int n) {
  const std::string masked = dexweb::mask_message(message, n);
  if (n < 1) return require(masked == message, "no masking below one character");
  const std::size_t keep = static_cast<std::size_t>(n);
  const std::size_t length = text::length(message);
  if (length <= 2 * keep) return require(masked.empty(), "a short message masks to nothing");
  require(text::length(masked) == length, "masking keeps the length in characters");
  const std::string first = text::left(masked, keep), last = text::right(masked, keep);
  require(first == text::left(message, keep), "the first characters stay");
  require(last == text::right(message, keep), "the last characters stay");
  const std::string middle = masked.substr(first.size(), masked.size() - first.size() - last.size());
  require(middle.find_first_not_of('.') == std::string::npos, "the characters between become dots");
}

}  // namespace

void dexweb::fuzz::fuzz_input(std::string_view input) {
  const std::string bytes(input);
  const std::string content = dexweb::strip_nulls(text::decode_bytes(bytes));
  require(content.find('\0') == std::string::npos, "StripNulls leaves no NUL");

  dexweb::NVPList lines;
  dexweb::split_web_lines(content, lines);
  check_lines(content, lines);

  dexweb::WebMessage msg;
  dexweb::parse_web_lines(lines, msg);
  check_fields(msg);

  check_recipients(msg.subject, dexweb::kAccountItemLimit);
  check_recipients(msg.subject, dexweb::kAdHocItemLimit);
  for (int n : {-1, 0, 1, 3, 10}) check_mask(msg.message, n);
}
