#include "intake/filter_buffer.h"

#include <algorithm>

#include "intake/filter_call.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::size_t kSettingsOffset = 0;
constexpr std::size_t kDebugOffset = 200;
constexpr std::size_t kAppendOffset = 400;
constexpr std::size_t kFileOffset = 401;
constexpr std::size_t kPathSize = 200;

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

void write_field(unsigned char* field, std::size_t size, std::string_view text) {
  std::string_view fitting = utf8_prefix(text, size - 1);
  std::copy(fitting.begin(), fitting.end(), field);
  field[fitting.size()] = 0;
}

}  // namespace

std::string_view utf8_prefix(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  std::size_t cut = max_bytes;
  while (cut > 0 && is_continuation(static_cast<unsigned char>(text[cut]))) --cut;
  return text.substr(0, cut);
}

FilterBuffer::FilterBuffer(const FilterCall& call) {
  write_field(&bytes_[kSettingsOffset], kPathSize, call.settings_file);
  const DebugTarget debug = call.debug.value_or(DebugTarget{});
  write_field(&bytes_[kDebugOffset], kPathSize, debug.path);
  bytes_[kAppendOffset] = debug.append ? 1 : 0;
  write_field(&bytes_[kFileOffset], kPathSize, call.file_path);
  write_field(&bytes_[kTextOffset], kTextSize, call.text);
}

std::string FilterBuffer::take_answer() {
  std::fill(bytes_.begin() + kTextOffset + kTextSize, bytes_.end(), 0);
  const auto* text = &bytes_[kTextOffset];
  const auto* end = std::find(text, text + kTextSize, 0);
  return text::decode_bytes(
      std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(end - text)));
}

}  // namespace dexweb
