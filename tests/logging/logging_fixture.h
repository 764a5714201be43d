#pragma once
// A clean module state for logging tests: fresh globals, Log_Dir and DB_Dir in a temporary
// folder, a registry file of the test's own, and a manual clock at kStamp.

#include <gtest/gtest.h>

#include <string>

#include "config/registry.h"
#include "logging/error_policy.h"
#include "logging/log_event.h"
#include "logging/monitor_link.h"
#include "logging/reporter.h"
#include "platform/clock.h"
#include "platform/registry_file.h"
#include "support/temp_dir.h"

namespace dexweb::test {

class LoggingTest : public ::testing::Test {
 protected:
  static constexpr const char* kStamp = "2024-03-05 14:07:09";

  LoggingTest() {
    reset_process_state();
    registry_settings.Log_Dir = dir.dir();
    registry_settings.DB_Dir = dir.dir();
  }
  ~LoggingTest() override { reset_process_state(); }

  // Writes the Monitor key's value lines, switching the monitor on at port when it is given.
  void set_monitor(const std::string& lines, int port = 0) {
    std::string on = port ? "\"VTM_Enabled\"=\"true\"\r\n\"VTM_Port\"=\"" + std::to_string(port) + "\"\r\n" : "";
    write_text(dir.file("velotrax.reg"), registry_text("", "", on + lines));
    read_monitor_settings(read_registry_settings(platform::RegistryFile(dir.file("velotrax.reg"))));
  }
  // A general report to the log file only.
  static void log_disk(std::string_view text) {
    log_event(LogLevel::General, LogTarget::Disk, LogCategory::General, text);
  }
  std::string queued(int index) { return log_state().disk_log_queue.at(static_cast<std::size_t>(index - 1)).line; }

  TempDir dir;
  RegistrySettings registry_settings;
  ErrorPolicy policy;
  Reporter reporter{registry_settings, &policy};
  ReporterInstall reporter_install{reporter};
  platform::ManualClock clock{platform::from_local(make_datetime(2024, 3, 5, 14, 7, 9))};
  platform::ScopedClock use_clock{clock};
};

}  // namespace dexweb::test
