#pragma once
// A module state for intake tests: a real database (SQLite, or PostgreSQL when asked), a
// watched folder, a log folder, the daemon's per-run objects, and a manual clock, so that the
// waits of the intake pass at once.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "config/gateway_settings.h"
#include "config/registry_settings.h"
#include "data/db_object.h"
#include "data/test_databases.h"
#include "intake/recipients.h"
#include "intake/claim_folders.h"
#include "intake/watched_folder.h"
#include "intake/check_for_messages.h"
#include "intake/leftover_files.h"
#include "logging/error_policy.h"
#include "logging/log_state.h"
#include "logging/reporter.h"
#include "platform/clock.h"
#include "support/temp_dir.h"

namespace dexweb::test {

struct Account {
  bool web_service = true;
  bool ad_hoc = false;
  bool multi_page = false;
  bool group_list = false;
  bool display_group = false;
};

// One row of messages, as read back.
struct MessageRow {
  std::string user, pin, message, frm, original_recipient, last_recipient;
  int transaction = 0;
};

class IntakeHarness {
 public:
  static constexpr const char* kMachine = "gateway-1";

  // Takes the database; the globals were reset by its making.
  explicit IntakeHarness(std::unique_ptr<TestDatabase> database);
  ~IntakeHarness();

  void add_user(const std::string& name, Account account = {});
  // Writes folder + name with the given bytes; age moves its modification time back.
  std::string write_web_file(const std::string& name, const std::string& bytes, int age_seconds = 0);
  // A web file with the usual CR LF field lines.
  std::string write_message(const std::string& name, const std::string& user, const std::string& to,
                            const std::string& message, const std::string& from = "Pat <pat@example.org>");

  bool poll();
  std::vector<MessageRow> rows();
  // Disk log lines without their time stamps, in order.
  std::vector<std::string> log_lines() const;
  int count_logged(const std::string& line) const;
  bool logged(const std::string& line) const { return count_logged(line) > 0; }
  void clear_log();
  std::vector<std::string> web_files() const;
  // The files in the claim folders of the watched folder, as "INSTANCE/CLAIM".
  std::vector<std::string> claimed_files() const;
  std::vector<std::string> bad_copies() const;
  // A new run of the module: what the last run remembered (its claims included) is gone,
  // the folders and the database stay.
  void restart();

  std::unique_ptr<TestDatabase> database;
  TempDir web, logs, temp;
  platform::ManualClock clock{platform::from_local(make_datetime(2026, 12, 4, 19, 14, 19))};
  platform::ScopedClock use_clock{clock};
  RegistrySettings registry;
  ErrorPolicy policy;
  Reporter reporter{registry, &policy};
  ReporterInstall reporter_install{reporter};
  DBObject db{database->settings()};
  GatewaySettings settings;
  RecipientList recipients;
  BlackList blacklist;
  LeftoverFiles leftovers;
  WriterWatch writers;
  MessageCounts counts;
  WatchedFolder watched_folder;
  std::unique_ptr<ClaimFolders> claims = std::make_unique<ClaimFolders>();
  // The index a folder watch keeps; null: each poll lists the folder.
  FolderIndex* folder_index = nullptr;
  bool first_poll = true;
};

// One test per engine: the embedded file and, when configured, PostgreSQL.
class IntakeEngineTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    auto database = GetParam() == "sqlite" ? make_sqlite_database() : make_postgresql_database();
    if (!database) GTEST_SKIP() << "DEXWEB_TEST_PG_ODBC is not set";
    harness = std::make_unique<IntakeHarness>(std::move(database));
  }
  std::unique_ptr<IntakeHarness> harness;
};

// The embedded database only.
class IntakeTest : public ::testing::Test {
 protected:
  IntakeHarness h{make_sqlite_database()};
};

}  // namespace dexweb::test
