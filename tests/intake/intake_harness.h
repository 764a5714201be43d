#pragma once
// A module state for intake tests: a real database (SQLite, or PostgreSQL when asked), a
// watched folder, a log folder, the daemon's per-run objects, and a manual clock, so that the
// waits of the intake pass at once.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/gateway_settings.h"
#include "config/registry.h"
#include "data/db_object.h"
#include "data/sql_text.h"
#include "data/test_databases.h"
#include "intake/recipients.h"
#include "intake/check_for_messages.h"
#include "intake/claim_folders.h"
#include "intake/watched_folder.h"
#include "intake/leftover_files.h"
#include "logging/error_policy.h"
#include "logging/reporter.h"
#include "platform/clock.h"
#include "support/temp_dir.h"

namespace dexweb::test {

// A child process that holds files open for writing (made where missing) until release()
// or the end of the object, as writers that have not finished do. ok() is false when it could
// not open them all.
class WriterHold {
 public:
  explicit WriterHold(const std::vector<std::string>& paths) {
    int ready[2];
    if (::pipe(ready) != 0 || ::pipe(done_) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      // A test process that dies must not leave the holder waiting for ever.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      rlimit limit{};
      ::getrlimit(RLIMIT_NOFILE, &limit);
      limit.rlim_cur = limit.rlim_max;
      ::setrlimit(RLIMIT_NOFILE, &limit);
      for (const std::string& path : paths)
        if (::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644) < 0) ::_exit(1);
      char c;
      (void)!::write(ready[1], "r", 1);
      (void)!::read(done_[0], &c, 1);
      ::_exit(0);
    }
    ::close(ready[1]);
    char c;
    ok_ = ::read(ready[0], &c, 1) == 1;
    ::close(ready[0]);
  }
  ~WriterHold() { release(); }
  WriterHold(const WriterHold&) = delete;
  WriterHold& operator=(const WriterHold&) = delete;

  bool ok() const { return ok_; }
  void release() {
    if (pid_ <= 0) return;
    (void)!::write(done_[1], "d", 1);
    ::waitpid(pid_, nullptr, 0);
    ::close(done_[0]);
    ::close(done_[1]);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int done_[2] = {-1, -1};
  bool ok_ = false;
};

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
  explicit IntakeHarness(std::unique_ptr<TestDatabase> db_under_test) : database(std::move(db_under_test)) {
    registry.Log_Dir = logs.dir();
    registry.DB_Dir = database->dir();
    db.SetErrorPolicy(&policy);
    settings.dexwebcgi_path = web.dir();
    settings.retry_interval = 60;
    settings.retry_interval_text = "60";
    settings.mail_out_dir = registry.DB_Dir + "MailOut/";
    db.Counter().record_id = 1;
  }
  ~IntakeHarness() {
    db.CloseDb();
    reset_process_state();
  }

  void add_user(const std::string& name, Account a = {}) {
    QueryObject q;
    db.Execute(q.Build(db.SqlDialect(), QueryObject::kInsert, "users",
                       {std::string("user"), name, std::string("web_service"), a.web_service, std::string("ad_hoc"),
                        a.ad_hoc, std::string("multi_page"), a.multi_page, std::string("group_list"), a.group_list,
                        std::string("display_group"), a.display_group}));
  }
  // Writes folder + name with the given bytes; age moves its modification time back.
  std::string write_web_file(const std::string& name, const std::string& bytes, int age_seconds = 0) {
    const std::string path = web.file(name);
    write_text(path, bytes);
    if (age_seconds)
      std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) - std::chrono::seconds(age_seconds));
    return path;
  }
  // A web file with the usual CR LF field lines.
  std::string write_message(const std::string& name, const std::string& user, const std::string& to,
                            const std::string& message, const std::string& from = "Pat <pat@example.org>") {
    return write_web_file(name, "user=" + user + "\r\nfrm=" + from + "\r\nsubject=" + to + "\r\nmsg=" + message + "\r\n");
  }

  bool poll() {
    IntakeContext ctx{db,      policy,    registry,  settings,       recipients, blacklist, first_poll,
                      "DexWeb", kMachine, temp.dir(), leftovers, writers, counts, watched_folder, *claims};
    ctx.folder_index = folder_index;
    recipients.clear();
    const bool found = check_for_messages(ctx);
    first_poll = false;
    return found;
  }
  std::vector<MessageRow> rows() {
    std::vector<MessageRow> out;
    auto rs = db.OpenRecordset("SELECT * FROM [messages]" + db.SqlDialect().table_hint() + " ORDER BY [record_id]");
    for (; !rs->Eof(); rs->MoveNext())
      out.push_back({rs->AsText("user"), rs->AsText("pin"), rs->AsText("message"), rs->AsText("frm"),
                     rs->AsText("original_recipient"), rs->AsText("last_recipient"), rs->AsLong("transaction")});
    return out;
  }
  // The lines written to the log file, then those still queued, without their time stamps.
  std::vector<std::string> log_lines() const {
    std::vector<std::string> lines;
    const std::string written = read_text(logs.file("VTXWeb.log")) + queued_text(log_state().disk_log_queue);
    // "yyyy-mm-dd hh:nn:ss" and two blanks come first.
    for (std::size_t at = 0, end; (end = written.find("\r\n", at)) != std::string::npos; at = end + 2)
      lines.push_back(written.substr(at + 21, end - at - 21));
    return lines;
  }
  int count_logged(const std::string& line) const {
    const auto lines = log_lines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }
  bool logged(const std::string& line) const { return count_logged(line) > 0; }
  void clear_log() {
    std::filesystem::remove(logs.file("VTXWeb.log"));
    log_state().disk_log_queue.clear();
    log_state().message_log_queue.clear();
  }
  std::vector<std::string> web_files() const { return files_in(web.dir()); }
  // The files in the claim folders of the watched folder, as "INSTANCE/CLAIM".
  std::vector<std::string> claimed_files() const {
    std::vector<std::string> out;
    for (const std::string& instance : files_in(web.file(".dexweb")))
      for (const std::string& name : files_in(web.file(".dexweb/" + instance)))
        if (name != "lock") out.push_back(instance + "/" + name);
    return out;
  }
  std::vector<std::string> bad_copies() const { return files_in(logs.dir() + "badmsg/"); }
  // A new run of the module: what the last run remembered (its claims included) is gone,
  // the folders and the database stay.
  void restart() {
    claims = std::make_unique<ClaimFolders>();
    leftovers = LeftoverFiles{};
    watched_folder = WatchedFolder{};
    db.CloseDb();
    clear_log();
  }

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
    auto database = make_database(GetParam());
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
