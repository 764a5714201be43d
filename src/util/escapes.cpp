#include "util/escapes.h"

#include "util/text.h"

namespace dexweb {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The code of the escape starting at text[i], or -1 when none starts there.
int escape_code(std::string_view text, std::size_t i) {
  if (text[i] != '\\' || i + 3 >= text.size()) return -1;
  char a = text[i + 1], b = text[i + 2], c = text[i + 3];
  if (a < '0' || a > '2' || !is_digit(b) || !is_digit(c)) return -1;
  int code = (a - '0') * 100 + (b - '0') * 10 + (c - '0');
  return code <= 255 ? code : -1;
}

}  // namespace

std::string decode_escapes(std::string_view text) {
  if (text.size() < 4 || text.find('\\') == std::string_view::npos) return std::string(text);
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    int code = escape_code(text, i);
    if (code < 0) {
      out += text[i++];
      continue;
    }
    // A lone byte of 0x80 or more is not UTF-8, so decode_bytes reads it as Windows-1252.
    out += text::decode_bytes(std::string(1, static_cast<char>(code)));
    i += 4;
  }
  return out;
}

}  // namespace dexweb
