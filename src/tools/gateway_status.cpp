#include "tools/gateway_status.h"

#include <algorithm>

#include "data/db_object.h"
#include "platform/files.h"
#include "platform/clock.h"
#include "tools/gateway_home.h"
#include "util/datetime.h"

namespace dexweb::ctl {
namespace {

constexpr const char* kDefaultLogDir = "/var/log/velotrax/";

FolderFacts folder_facts(const std::string& folder, std::string_view suffix) {
  FolderFacts facts;
  facts.folder = folder;
  if (folder.empty() || !platform::stat_path(folder)) return facts;
  auto entries = platform::list_files(folder, suffix);
  facts.count = entries.size();
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.modified > b.modified; });
  if (!entries.empty())
    facts.oldest_epoch = std::chrono::duration_cast<std::chrono::seconds>(entries.back().modified.time_since_epoch()).count();
  entries.resize(std::min(entries.size(), kStatusRows));
  for (const auto& e : entries) facts.newest.push_back({e.name, format_datetime(platform::to_local(e.modified))});
  return facts;
}

void read_control(DBObject& db, GatewayStatus& status) {
  auto rs = db.OpenRecordset("SELECT [dexweb_run], [dexweb_pause], [dexweb_state] FROM [control]" + db.SqlDialect().table_hint());
  if (rs->Eof()) return;
  status.control_found = true;
  status.run = !rs->IsNull("dexweb_run") && rs->AsBool("dexweb_run");
  status.pause = !rs->IsNull("dexweb_pause") && rs->AsBool("dexweb_pause");
  status.state = !rs->IsNull("dexweb_state") && rs->AsBool("dexweb_state");
}

// Ids need not be dense; the rows within the last kStatusRows ids are enough here and the
// query needs no dialect's row limit.
std::vector<MessageFact> read_last_messages(DBObject& db) {
  const std::string hint = db.SqlDialect().table_hint();
  auto rs = db.OpenRecordset(
      "SELECT [record_id], [user], [pin], [frm], [date_time_requested], [message] FROM [messages]" + hint +
      " WHERE [record_id] > (SELECT MAX([record_id]) FROM [messages]" + hint + ") - " + std::to_string(kStatusRows) +
      " ORDER BY [record_id] DESC");
  std::vector<MessageFact> rows;
  for (; !rs->Eof(); rs->MoveNext())
    rows.push_back({rs->AsText("record_id"), rs->AsText("user"), rs->AsText("pin"), rs->AsText("frm"),
                    rs->IsNull("date_time_requested") ? "" : format_datetime(rs->AsDate("date_time_requested")),
                    rs->AsText("message")});
  return rows;
}

long long count_messages(DBObject& db) {
  auto rs = db.OpenRecordset("SELECT COUNT(*) AS [n] FROM [messages]" + db.SqlDialect().table_hint());
  return rs->Eof() ? 0 : rs->AsLong("n");
}

}  // namespace

GatewayStatus read_gateway_status(const std::string& registry_path) {
  DatabaseSettings settings = gateway_database_settings(registry_path);
  GatewayStatus status;
  const std::string db_dir = registry_folder(registry_path, "DB_Dir");
  status.module = find_module(db_dir);
  status.now_epoch =
      std::chrono::duration_cast<std::chrono::seconds>(platform::clock().now().time_since_epoch()).count();
  DBObject db(std::move(settings));
  read_control(db, status);
  status.waiting = folder_facts(read_watched_folder(db), ".msg");
  status.messages = read_last_messages(db);
  status.message_rows = count_messages(db);
  db.CloseDb();
  std::string log_dir = registry_folder(registry_path, "Log_Dir");
  if (log_dir.empty()) log_dir = kDefaultLogDir;
  status.bad_copies = folder_facts(log_dir + "badmsg/", ".web");
  status.mail_files = folder_facts(db_dir + "MailOut/", ".msg");
  status.activity = read_log_activity(log_dir, platform::local_now(), kStatusRows);
  return status;
}

std::string state_word(const GatewayStatus& status) {
  if (!status.module.pid) return status.module.unknown.empty() ? "stopped" : "unknown";
  if (status.control_found && !status.run) return "stopping";
  return status.pause ? "paused" : "running";
}

std::string state_text(const GatewayStatus& status) {
  const std::string word = state_word(status);
  return word == "unknown" ? word + ": " + status.module.unknown : word;
}

std::vector<std::string> control_problems(bool found, bool run, bool pause) {
  if (!found) return {"no control row: the module stops at its first refresh"};
  std::vector<std::string> problems;
  if (!run)
    problems.push_back("dexweb_run is false: a running module stops within seconds, and one started stops at once; "
                       "run `dexwebctl start`");
  if (pause)
    problems.push_back("dexweb_pause is true: a running module stops within seconds, and one started waits up to "
                       "300 s; run `dexwebctl resume`");
  return problems;
}

std::string control_summary(const GatewayStatus& status) {
  if (!status.control_found) return "no control row";
  const auto flag = [](bool value) { return value ? "true" : "false"; };
  return std::string("dexweb_run ") + flag(status.run) + ", dexweb_pause " + flag(status.pause) + ", dexweb_state " +
         flag(status.state);
}

}  // namespace dexweb::ctl
