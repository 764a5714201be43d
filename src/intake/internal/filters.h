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

#include <chrono>
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

}  // namespace dexweb
