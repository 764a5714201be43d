#pragma once
// The exchange block of the filter library's RunFilter. Text fields hold UTF-8 text cut to
// the field's size less one byte, never inside a character, followed by a NUL byte.
//
//   offset   size   content
//        0    200   filter settings file path
//      200    200   debug file path
//      400      1   append flag: 1 append to the debug file, 0 not
//      401    200   path of the file concerned
//      601  15399   the text, in and out
//    16000      2   reserved, zero

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace dexweb {

struct FilterCall;

class FilterBuffer {
 public:
  static constexpr std::size_t kSize = 16002;
  static constexpr std::size_t kTextOffset = 601;
  static constexpr std::size_t kTextSize = 15399;

  // All zero, then the call's fields.
  explicit FilterBuffer(const FilterCall& call);

  unsigned char* data() { return bytes_.data(); }
  const unsigned char* data() const { return bytes_.data(); }

  // Zeroes the reserved bytes at the end, whatever the filter wrote there, then reads the
  // text field: bytes up to the first NUL, at most kTextSize of them.
  std::string take_answer();

 private:
  std::array<unsigned char, kSize> bytes_{};
};

// The longest start of text, in bytes, that fits max_bytes without splitting a character.
std::string_view utf8_prefix(std::string_view text, std::size_t max_bytes);

}  // namespace dexweb
