#include "logging/sanitize.h"

#include <algorithm>

#include "util/text.h"

namespace dexweb {
namespace {

bool is_safe(char32_t cp) { return cp >= U' ' && cp <= U'~' && cp != U'|'; }

}  // namespace

std::string sanitize_log_text(std::string_view text, StringBuilder& builder) {
  // Most report texts are safe throughout, and a byte below 0x80 is its own character.
  if (std::all_of(text.begin(), text.end(), [](char c) { return is_safe(static_cast<unsigned char>(c)); }))
    return std::string(text);
  builder.Clear();
  std::u32string chars = text::to_u32(text);
  std::size_t run_start = 0;
  // Safe characters are appended in runs, so that a long clean text costs one append.
  for (std::size_t i = 0; i <= chars.size(); ++i) {
    if (i < chars.size() && is_safe(chars[i])) continue;
    builder.Append(text::to_utf8(std::u32string_view(chars).substr(run_start, i - run_start)));
    if (i < chars.size()) builder.Append("<" + std::to_string(static_cast<unsigned long>(chars[i])) + ">");
    run_start = i + 1;
  }
  return builder.ToString();
}

}  // namespace dexweb
