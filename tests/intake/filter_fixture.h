#pragma once
// A module state for the filter tests: fresh globals, a Prog_Dir, a watched folder holding
// one web file, a temporary folder, and the detail log lines the filters wrote.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config/interface_settings.h"
#include "config/registry.h"
#include "intake/internal/filters.h"
#include "logging/error_policy.h"
#include "logging/reporter.h"
#include "support/temp_dir.h"

namespace dexweb::test {

inline constexpr const char* kAborted = "Message aborted - the filter has deleted the original message";
inline constexpr const char* kLeftUnchanged = "Error running filter - leaving the message unchanged";

class FilterTest : public ::testing::Test {
 protected:
  FilterTest() {
    reset_process_state();
    registry.DB_Dir = work.dir();
    ctx.prog_dir = prog.dir();
    ctx.temp_folder = temp.dir();
    msg.file_name = "a.msg";
    set_web_text("user=bob\r\nmsg=hello");
  }
  ~FilterTest() override { reset_process_state(); }

  std::string web_path() const { return watched.file(msg.file_name); }
  void set_web_text(const std::string& text) {
    write_text(web_path(), text);
    msg.bytes = msg.content = msg.original_content = text;
  }
  // Parsed settings text; "<settings>" stands for the path of a filter settings file that
  // holds mode.
  InterfaceSettings settings(const std::string& lines, const std::string& mode = "") {
    write_text(filter_settings(), mode);
    std::string text = lines;
    for (std::size_t at; (at = text.find("<settings>")) != std::string::npos;)
      text.replace(at, 10, filter_settings());
    InterfaceSettings s;
    parse_settings(s, text, "", "");
    return s;
  }
  std::string filter_settings() const { return work.file("filter settings.txt"); }

  // Renamed into place: a copy loaded earlier stays mapped, and overwriting it would crash.
  void install_library() {
    std::filesystem::copy_file(DEXWEB_TEST_FILTER_LIBRARY, prog.file("vtfilter.so.new"),
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::rename(prog.file("vtfilter.so.new"), prog.file("vtfilter.so"));
  }
  void install_program(const std::string& script, bool executable = true) {
    write_text(prog.file("vtfilter"), "#!/bin/sh\n" + script);
    using std::filesystem::perms;
    perms mode = executable ? perms::owner_all : perms::owner_read | perms::owner_write;
    std::filesystem::permissions(prog.file("vtfilter"), mode);
  }
  void set_fields(const std::string& user, const std::string& frm, const std::string& message) {
    msg.user = msg.original_recipient = user;
    msg.frm = msg.sender = frm;
    msg.message = message;
  }

  // The texts of the log lines written so far.
  std::vector<std::string> logged() const {
    std::vector<std::string> lines;
    for (const QueuedLine& q : log_state().disk_log_queue) lines.push_back(q.line.substr(q.line.find("  ") + 2));
    return lines;
  }
  bool temp_folder_empty() const { return std::filesystem::is_empty(temp.dir()); }

  TempDir prog, work, watched, temp;
  RegistrySettings registry;
  ErrorPolicy policy;
  Reporter reporter{registry, &policy};
  ReporterInstall reporter_install{reporter};
  FilterContext ctx;
  WebMessage msg;
};

}  // namespace dexweb::test
