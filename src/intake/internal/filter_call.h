#pragma once
// How one run of a filter is made: what it is given (FilterCall), the library's exchange
// buffer and RunFilter call, the filter program, and the temporary file a filter works on.

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dexweb {

// The debug file of a run and whether the filter appends to it.
struct DebugTarget {
  std::string path;
  bool append = false;
};

// A debug file setting: " /append" (any case) after the path asks for appending, and the
// path is what stands before it. The blank is required, so that a folder named "append"
// in a path is not taken for the option.
DebugTarget debug_target(std::string_view setting);

struct FilterCall {
  std::string settings_file;
  // Given when the debug file key is set.
  std::optional<DebugTarget> debug;
  // The file the filter works on: a private copy of the web file, or the interface
  // filter's temporary file.
  std::string file_path;
  // The text handed over in the library's buffer; empty when the library works on the file.
  std::string text;
};

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

// The filter library: loads it, calls RunFilter with the call's buffer and returns the text
// the filter left in the text field; the library is unloaded again. The file at
// library_path now is what runs, also when a copy replaced since is still loaded; the
// private temp_folder holds the link it is loaded through for that. RuntimeError when the
// library cannot be loaded or exports no RunFilter.
std::string call_run_filter(const std::string& library_path, const std::string& temp_folder, const FilterCall& call);

// The filter program: started directly (no shell) with one argument per item,
//   settingsfile=PATH [debugfile=PATH [debugappend=true]] FILE
// and waited for at most limit. It changes or deletes FILE in place; its exit status is not
// part of the contract. RuntimeError when it could not be started, was ended by a signal,
// or had to be stopped at the limit.
void run_filter_program(const std::string& program, const FilterCall& call, std::chrono::seconds limit);

// temp_folder + unique_name() + ".txt", in the module's private temporary folder; the name
// is empty when there is no such folder (the filter step then fails). The file is removed
// when the object goes, whatever the filter did with it.
class FilterTempFile {
 public:
  explicit FilterTempFile(const std::string& temp_folder);
  ~FilterTempFile();
  FilterTempFile(const FilterTempFile&) = delete;
  FilterTempFile& operator=(const FilterTempFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace dexweb
