#include "tools/html.h"

#include "util/text.h"

namespace dexweb::ctl {

std::string html_escape(std::string_view text) {
  std::string out;
  for (const char c : text::decode_bytes(text)) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace dexweb::ctl
