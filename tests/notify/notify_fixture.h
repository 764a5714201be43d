#pragma once
// A gateway for notification tests: a real SQLite database, a program folder for lists and
// templates, an outgoing mail folder, US Eastern time and a manual clock at Friday
// 2026-12-04 19:14:19 UTC (14:14:19 local).

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/registry.h"
#include "data/db_object.h"
#include "data/test_databases.h"
#include "data/unique_ids.h"
#include "logging/error_policy.h"
#include "logging/reporter.h"
#include "notify/notifications.h"
#include "platform/clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace dexweb::test {

// TZ for one test; the C library re-reads it on entry and on exit.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& zone) : env_(std::in_place, "TZ", zone) { ::tzset(); }
  ~ScopedTimeZone() {
    env_.reset();
    ::tzset();
  }

 private:
  std::optional<ScopedEnv> env_;
};

// Caps the size of files this process writes: a write past it fails with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : old_handler_(::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit{bytes, saved_.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, old_handler_);
  }

 private:
  sighandler_t old_handler_;
  rlimit saved_{};
};

inline platform::TimePoint utc(int y, unsigned mo, unsigned d, int h, int mi, int s) {
  using namespace std::chrono;
  return sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s};
}

// Line n (0-based) of a mail file's text.
inline std::string line_of(const std::string& content, int n) {
  std::size_t pos = 0;
  for (int i = 0; i < n; ++i) pos = content.find("\r\n", pos) + 2;
  return content.substr(pos, content.find("\r\n", pos) - pos);
}

class NotifyTest : public ::testing::Test {
 protected:
  NotifyTest() {
    settings_.dexmail_enabled = true;
    settings_.domain = "example.com";
    settings_.postmaster = "postmaster@example.com";
    settings_.mail_out_dir = database_->dir() + "MailOut/";
    std::filesystem::create_directory(settings_.mail_out_dir);
    restart_name_sequence(0);  // names count from 1, whatever ran before in this process
  }
  ~NotifyTest() override { reset_process_state(); }

  // The contents of the ".msg" files in the order they were named ("VTXWeb", 14 digits,
  // then the sequence number).
  std::vector<std::string> mail() const {
    std::vector<std::string> names;
    for (const std::string& name : files_in(settings_.mail_out_dir))
      if (name.ends_with(".msg")) names.push_back(name);
    auto sequence = [](const std::string& name) { return std::stol(name.substr(20)); };
    std::sort(names.begin(), names.end(), [&](auto& a, auto& b) { return sequence(a) < sequence(b); });
    std::vector<std::string> contents;
    for (const std::string& name : names) contents.push_back(read_text(settings_.mail_out_dir + name));
    return contents;
  }

  std::unique_ptr<TestDatabase> database_ = make_sqlite_database();  // first: it resets the globals
  TempDir prog_;
  ScopedTimeZone zone_{"EST5EDT,M3.2.0,M11.1.0"};
  platform::ManualClock clock_{utc(2026, 12, 4, 19, 14, 19)};
  platform::ScopedClock scoped_clock_{clock_};
  DBObject db_{database_->settings()};
  GatewaySettings settings_;
  RegistrySettings registry_;
  ErrorPolicy policy_;
  Reporter reporter_{registry_, &policy_};
  ReporterInstall reporter_install_{reporter_};
  NotifyContext ctx_{db_, settings_, policy_, prog_.dir()};
};

}  // namespace dexweb::test
