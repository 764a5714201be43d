#pragma once
// The running module in one process: a real SQLite gateway database, a log folder, a UDP
// monitor, the daemon on the process's event loop, and a manual clock, so that the
// poll cycle's waits of minutes pass at once. The end of the process becomes an exception.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "data/test_databases.h"
#include "logging/log_event.h"
#include "logging/reporter.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/registry_file.h"
#include "platform/sqlite_db.h"
#include "shell/internal/daemon.h"
#include "support/temp_dir.h"
#include "support/udp_listener.h"

namespace dexweb::test {

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = make_sqlite_database();
    exec("INSERT INTO [settings] ([record_id], [dbversion], [dexweb_poll], [log_level]) VALUES (1, 1100, 60, 3)");
    exec("INSERT INTO [control] ([record_id], [dexweb_run], [dexweb_state]) VALUES (1, 1, 1)");
    write_text(registry_.file("velotrax.reg"),
               registry_text("", "", "\"VTM_Enabled\"=\"true\"\r\n\"VTM_Port\"=\"" + std::to_string(monitor_.port()) + "\"\r\n"));
    settings_ = read_registry_settings(platform::RegistryFile(registry_.file("velotrax.reg")));
    settings_.Log_Dir = logs_.dir();
    settings_.DB_Dir = db_->dir();
    start_daemon();
  }

  // Makes the daemon anew with settings_ and loads it, as a start of the module does. Its
  // polls go to poll_ when a test set one, else to the intake.
  void start_daemon() {
    daemon_.reset();
    daemon_ = std::make_unique<Daemon>(platform::event_loop(), settings_,
                                       [this](Daemon& d) { return poll_ ? poll_(d) : d.poll_intake(); });
    daemon_->load();
  }

  void TearDown() override {
    daemon_.reset();
    reset_process_state();
  }

  // Ticks once a second as the loop would, until the run ends; its exit status, or -1.
  int run_ticks(int ticks) {
    try {
      for (int i = 0; i < ticks; ++i) {
        daemon_->poll_tick();
        if (daemon_->stop_requested()) return daemon_->finish();
        clock_.advance(std::chrono::seconds(1));
      }
    } catch (const ModuleHalted& halt) {
      return daemon_->finish(halt);
    }
    return -1;
  }

  void exec(const std::string& sql) { db_->exec(sql); }

  std::string scalar(const std::string& sql) {
    auto conn = platform::SqliteConnection::open(db_->dir() + "velotrax.db");
    auto st = conn.prepare(sql);
    return st.step() ? st.column_text(0) : std::string("<no row>");
  }

  std::string log_text() {
    flush_log_queues();
    return read_text(logs_.file("VTXWeb.log"));
  }

  bool logged(const std::string& line) { return log_text().find("  " + line + "\r\n") != std::string::npos; }

  platform::ManualClock clock_{platform::from_local(make_datetime(2026, 3, 5, 14, 20, 0))};
  platform::ScopedClock scoped_clock_{clock_};
  TempDir logs_;
  TempDir registry_;
  UdpListener monitor_;
  std::unique_ptr<TestDatabase> db_;
  RegistrySettings settings_;
  Daemon::Poll poll_;
  std::unique_ptr<Daemon> daemon_;
};

}  // namespace dexweb::test
