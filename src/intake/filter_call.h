#pragma once
// What one run of a filter is given, whether through the library or the program.

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
  // The file the filter works on: the web file, or the filter's temporary file.
  std::string file_path;
  // The text handed over in the library's buffer; empty when the library works on the file.
  std::string text;
};

}  // namespace dexweb
