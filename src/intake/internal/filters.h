#pragma once
// The site's interface filters: the raw filter on the whole file before parsing, and the
// interface filter on the parsed recipient, sender and message after validation. Each runs
// only when its key is set in the effective interface settings, whatever its value, through
// Prog_Dir + "vtfilter.so" when usefilterdll is true, else through Prog_Dir + "vtfilter".
//
// A missing settings file, library or program skips the filter; a failing filter (an
// error, a program that could not start, crashed or overran its time limit) leaves the
// message unchanged; either way with detail log lines. A filter that deletes the file it
// works on or answers with empty text sets msg.filter_aborted.

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "config/interface_settings.h"
#include "intake/web_message.h"

namespace dexweb {

// What the filters need from the running module.
struct FilterContext {
  std::string prog_dir;        // Prog_Dir: where the filter library and program are
  std::string temp_folder;     // private to the module's account, with a trailing '/'; when
                              // empty, the filters that need a file fail
  // The filter program is stopped after this long and the message goes on unfiltered.
  std::chrono::seconds ProgramTimeLimit{60};
};

// On msg.original_content, or a private copy of msg.bytes for the filters that work on a
// file (the web file itself is never handed over); the answer becomes msg.content.
void run_raw_interface_filter(const InterfaceSettings& settings, const FilterContext& ctx, WebMessage& msg);
// On msg.user, msg.frm and msg.message, which the answer replaces.
void run_interface_filter(const InterfaceSettings& settings, const FilterContext& ctx, WebMessage& msg);

// How one run of a filter is made: what it is given, and the filter library's exchange
// buffer, which the library's RunFilter reads and writes.

// The debug file of a run and whether the filter appends to it.
struct DebugTarget {
  std::string path;
  bool append = false;
};

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
  // Zeroes the reserved bytes at the end, whatever the filter wrote there, then reads the
  // text field: bytes up to the first NUL, at most kTextSize of them.
  std::string take_answer();

 private:
  std::array<unsigned char, kSize> bytes_{};
};

}  // namespace dexweb
