#include "intake/intake_harness.h"

#include <algorithm>
#include <filesystem>

#include "data/query_object.h"
#include "intake/check_for_messages.h"
#include "logging/log_state.h"

namespace dexweb::test {

IntakeHarness::IntakeHarness(std::unique_ptr<TestDatabase> db_under_test) : database(std::move(db_under_test)) {
  registry.Log_Dir = logs.dir();
  registry.DB_Dir = database->dir();
  db.SetErrorPolicy(&policy);
  settings.dexwebcgi_path = web.dir();
  settings.retry_interval = 60;
  settings.retry_interval_text = "60";
  settings.mail_out_dir = registry.DB_Dir + "MailOut/";
  db.Counter().record_id = 1;
}

IntakeHarness::~IntakeHarness() {
  db.CloseDb();
  reset_process_state();
}

void IntakeHarness::add_user(const std::string& name, Account a) {
  QueryObject q;
  db.Execute(q.Build(db.SqlDialect(), QueryObject::kInsert, "users",
                     {std::string("user"), name, std::string("web_service"), a.web_service, std::string("ad_hoc"),
                      a.ad_hoc, std::string("multi_page"), a.multi_page, std::string("group_list"), a.group_list,
                      std::string("display_group"), a.display_group}));
}

std::string IntakeHarness::write_web_file(const std::string& name, const std::string& bytes, int age_seconds) {
  const std::string path = web.file(name);
  write_text(path, bytes);
  if (age_seconds)
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) - std::chrono::seconds(age_seconds));
  return path;
}

std::string IntakeHarness::write_message(const std::string& name, const std::string& user, const std::string& to,
                                         const std::string& message, const std::string& from) {
  return write_web_file(name, "user=" + user + "\r\nfrm=" + from + "\r\nsubject=" + to + "\r\nmsg=" + message + "\r\n");
}

bool IntakeHarness::poll() {
  IntakeContext ctx{db,      policy,    registry,  settings,       recipients, blacklist, first_poll,
                    "DexWeb", kMachine, temp.dir(), leftovers, writers, counts, watched_folder, *claims};
  ctx.folder_index = folder_index;
  recipients.clear();
  const bool found = check_for_messages(ctx);
  first_poll = false;
  return found;
}

std::vector<MessageRow> IntakeHarness::rows() {
  std::vector<MessageRow> out;
  auto rs = db.OpenRecordset("SELECT * FROM [messages]" + db.SqlDialect().table_hint() + " ORDER BY [record_id]");
  for (; !rs->Eof(); rs->MoveNext())
    out.push_back({rs->AsText("user"), rs->AsText("pin"), rs->AsText("message"), rs->AsText("frm"),
                   rs->AsText("original_recipient"), rs->AsText("last_recipient"), rs->AsLong("transaction")});
  return out;
}

// The lines written to the log file, then those still queued.
std::vector<std::string> IntakeHarness::log_lines() const {
  std::vector<std::string> lines;
  const std::string written = read_text(logs.file("VTXWeb.log")) + queued_text(log_state().disk_log_queue);
  // "yyyy-mm-dd hh:nn:ss" and two blanks come first.
  for (std::size_t at = 0, end; (end = written.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(written.substr(at + 21, end - at - 21));
  return lines;
}

int IntakeHarness::count_logged(const std::string& line) const {
  const auto lines = log_lines();
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

void IntakeHarness::clear_log() {
  std::filesystem::remove(logs.file("VTXWeb.log"));
  log_state().disk_log_queue.clear();
  log_state().message_log_queue.clear();
}

std::vector<std::string> IntakeHarness::web_files() const { return files_in(web.dir()); }

std::vector<std::string> IntakeHarness::claimed_files() const {
  std::vector<std::string> out;
  for (const std::string& instance : files_in(web.file(".dexweb")))
    for (const std::string& name : files_in(web.file(".dexweb/" + instance)))
      if (name != "lock") out.push_back(instance + "/" + name);
  return out;
}

void IntakeHarness::restart() {
  claims = std::make_unique<ClaimFolders>();
  leftovers = LeftoverFiles{};
  watched_folder = WatchedFolder{};
  db.CloseDb();
  clear_log();
}

std::vector<std::string> IntakeHarness::bad_copies() const { return files_in(logs.dir() + "badmsg/"); }

}  // namespace dexweb::test
