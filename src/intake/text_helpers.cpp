#include "intake/text_helpers.h"

#include "util/text.h"

namespace dexweb {

std::string strip_nulls(std::string_view text) {
  std::string out(text);
  std::erase(out, '\0');
  return out;
}

std::string text_after(std::string_view text, std::string_view delimiter, std::string_view fallback) {
  const std::size_t at = delimiter.empty() ? std::string::npos : text::ifind(text, delimiter);
  if (at == std::string::npos || at + 1 == text.size()) return std::string(fallback);
  return std::string(text.substr(std::min(text.size(), at + delimiter.size())));
}

std::string variant_to_text(const Variant& value) { return is_null(value) ? std::string() : to_text(value); }

std::string mask_message(std::string_view message, int keep_chars) {
  if (keep_chars < 1) return std::string(message);
  const std::size_t keep = static_cast<std::size_t>(keep_chars);
  const std::size_t length = text::length(message);
  if (length <= 2 * keep) return {};
  return text::left(message, keep) + std::string(length - 2 * keep, '.') + text::right(message, keep);
}

}  // namespace dexweb
