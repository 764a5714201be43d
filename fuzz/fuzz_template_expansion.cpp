// A notification template expanded with fields from the input. The input's first six lines
// are the message, error message, sender, recipient, notify address and the user's full
// name (an empty sixth line: no users row); the rest is the template file.

#include "fuzz_support.h"
#include "notify/template_expansion.h"
#include "util/text.h"

namespace {

using dexweb::fuzz::require;
namespace text = dexweb::text;

constexpr std::string_view kTabBlanks = "       ";

std::string untabbed(std::string_view s) { return text::replace_all(s, "\t", kTabBlanks); }

// No CR, LF or other control character (C0, DEL, C1).
bool one_clean_line(std::string_view s) {
  for (char32_t cp : text::to_u32(s))
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return false;
  return true;
}

}  // namespace

void dexweb::fuzz::fuzz_input(std::string_view input) {
  const std::string decoded = text::decode_bytes(input);
  const auto parts = dexweb::fuzz::take_lines(decoded, 6);

  dexweb::NotificationFields fields;
  fields.message = parts[0];
  fields.error_message = parts[1];
  fields.sender = parts[2];
  fields.recipient = parts[3];
  const std::string address(parts[4]);
  if (!parts[5].empty()) fields.user = dexweb::UserColumns{std::string(parts[5]), "one", "two", "three", "four"};
  const std::string mail_template = text::left(parts[6], dexweb::kTemplateMaxChars);

  const std::string mail = dexweb::expand_template(mail_template, fields).for_address(address);
  require(mail.find('\t') == std::string::npos, "every tab becomes blanks");
  if (mail_template.find('%') == std::string::npos)
    require(mail == untabbed(mail_template), "a template without placeholders only loses its tabs");

  // Values are placed as typed, never searched for placeholders themselves.
  const std::string body = dexweb::expand_template("\r\n\r\n%Message%", fields).for_address(address);
  require(body == "\r\n\r\n" + untabbed(fields.message), "a body value is placed as typed");

  // A value in a header line stays inside that line.
  const std::string headers =
      dexweb::expand_template("To: %NotifyAddress%\r\nFrom: %Sender%\r\n\r\n", fields).for_address(address);
  const std::size_t first_end = headers.find("\r\n");
  require(first_end != std::string::npos && one_clean_line(headers.substr(0, first_end)), "the address stays one clean header line");
  const std::size_t second_end = headers.find("\r\n", first_end + 2);
  require(second_end != std::string::npos && headers.substr(second_end) == "\r\n\r\n" &&
              one_clean_line(headers.substr(first_end + 2, second_end - first_end - 2)),
          "the sender stays one clean header line");
}
