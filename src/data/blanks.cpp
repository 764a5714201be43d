#include "data/internal/blanks.h"

#include "util/text.h"

namespace dexweb {
namespace {

bool is_blank(char32_t cp) {
  int code = text::code_1252(cp);
  return code < 33 || code > 127;
}

}  // namespace

// ASCII text (every statement's own text) is cut where it is, without decoding it.
std::string rtrim_blanks(std::string_view s) {
  if (text::is_ascii(s)) {
    std::size_t end = s.size();
    while (end > 0 && static_cast<unsigned char>(s[end - 1]) < 33) --end;
    return std::string(s.substr(0, end));
  }
  std::u32string u = text::to_u32(s);
  while (!u.empty() && is_blank(u.back())) u.pop_back();
  return text::to_utf8(u);
}

std::string ltrim_blanks(std::string_view s) {
  std::u32string u = text::to_u32(s);
  std::size_t start = 0;
  while (start < u.size() && is_blank(u[start])) ++start;
  return text::to_utf8(std::u32string_view(u).substr(start));
}

std::string trim_blanks(std::string_view s) { return ltrim_blanks(rtrim_blanks(s)); }

}  // namespace dexweb
