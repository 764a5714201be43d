#include "notify/internal/header_value.h"

namespace dexweb {

std::string header_value(std::string_view text) {
  const std::string_view line = text.substr(0, text.find_first_of("\r\n"));
  std::string out;
  out.reserve(line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    if (byte < 0x20 || byte == 0x7F) {
      out += ' ';
    } else if (byte == 0xC2 && i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) < 0xA0) {
      // U+0080 to U+009F, two bytes in UTF-8 (the text is valid UTF-8, so the second byte
      // is a continuation byte, 0x80 or above).
      out += ' ';
      ++i;
    } else {
      out += line[i];
    }
  }
  return out;
}

}  // namespace dexweb
