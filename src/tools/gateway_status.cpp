#include "tools/gateway_status.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "data/db_object.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/private_files.h"
#include "tools/gateway_home.h"
#include "util/datetime.h"
#include "util/runtime_error.h"

namespace dexweb::ctl {
namespace {

// How much of the end of the log file is read.
constexpr std::size_t kLogTailBytes = 4u << 20;

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

// Reads "name=value" lines of a state file; nullopt when last_poll is missing.
std::optional<PollState> parse_poll_state(const std::string& text) {
  static constexpr std::pair<std::string_view, long long PollState::*> kCounts[] = {
      {"last_poll", &PollState::last_poll},
      {"accepted", &PollState::accepted},
      {"refused", &PollState::refused},
      {"messages_accepted", &PollState::messages_accepted},
      {"messages_refused", &PollState::messages_refused}};
  PollState state;
  bool found = false;
  for (const std::string& line : split_lines(text)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string_view name = std::string_view(line).substr(0, eq);
    const long long value = std::strtoll(line.c_str() + eq + 1, nullptr, 10);
    for (const auto& [key, member] : kCounts)
      if (name == key) state.*member = value;
    found = found || name == "last_poll";
    if (name == "poll_interval") state.poll_interval = static_cast<long>(value);
    if (name == "waiting") state.waiting = static_cast<std::size_t>(std::max(0LL, value));
    if (name == "unreadable") state.unreadable = std::max(0LL, value);
  }
  if (!found) return std::nullopt;
  return state;
}

std::optional<PollState> read_state(const std::string& folder) {
  const std::string path = platform::InstanceLock::state_path(folder);
  const auto info = platform::stat_path(path);
  if (!info || !info->is_regular) return std::nullopt;
  try {
    return parse_poll_state(platform::read_file(path, 4096));
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
}

constexpr std::size_t kStampLength = 19;
constexpr std::string_view kAccepted = "Message accepted.";
constexpr std::string_view kRejected = "Message rejected.";

struct LogLine {
  std::optional<DateTime> when;
  std::string stamp, text;
};

LogLine parse_line(const std::string& line) {
  if (line.size() < kStampLength + 2 || line.compare(kStampLength, 2, "  ") != 0) return {};
  return {parse_datetime(std::string_view(line).substr(0, kStampLength)), line.substr(0, kStampLength),
          line.substr(kStampLength + 2)};
}

// "Recipient: R Sender: S Source: P" after the report's first words.
std::string field(const std::string& text, std::string_view name, std::string_view next) {
  const std::size_t start = text.find(name);
  if (start == std::string::npos) return {};
  const std::size_t from = start + name.size();
  const std::size_t end = next.empty() ? std::string::npos : text.find(next, from);
  return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// The line after a refusal is its reason unless it is another report of its own kind.
bool is_reason(const LogLine& line) {
  return line.when && !line.text.empty() && !line.text.starts_with("Message ") && !line.text.starts_with("Module ");
}

void count(std::array<int, kActivityMinutes>& per_minute, DateTime when, DateTime now) {
  const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(now - when).count();
  if (minutes >= 0 && minutes < static_cast<long>(kActivityMinutes)) ++per_minute[static_cast<std::size_t>(minutes)];
}

// Reads the lines of the module's log text (yyyy-mm-dd hh:nn:ss, two blanks, the text) as
// of the local time now; keeps the newest `keep` refusals.
LogActivity parse_log_activity(std::string_view log_text, DateTime now, std::size_t keep) {
  LogActivity activity;
  activity.now = now;
  const std::vector<std::string> raw = split_lines(log_text);
  std::vector<LogLine> lines;
  lines.reserve(raw.size());
  for (const std::string& line : raw) lines.push_back(parse_line(line));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const LogLine& line = lines[i];
    if (!line.when) continue;
    if (line.text.starts_with(kAccepted)) {
      count(activity.accepted, *line.when, now);
    } else if (line.text.starts_with(kRejected)) {
      count(activity.refused, *line.when, now);
      RefusalFact fact{line.stamp, field(line.text, "Recipient: ", " Sender: "), field(line.text, " Sender: ", " Source: "),
                       field(line.text, " Source: ", ""), {}};
      if (i + 1 < lines.size() && is_reason(lines[i + 1])) fact.reason = lines[i + 1].text;
      activity.refusals.push_back(std::move(fact));
    }
  }
  std::reverse(activity.refusals.begin(), activity.refusals.end());
  if (activity.refusals.size() > keep) activity.refusals.resize(keep);
  return activity;
}

// The same from the log file Log_Dir + "VTXWeb.log" (its last kLogTailBytes); empty when
// the file cannot be read.
LogActivity read_log_activity(const std::string& log_dir, DateTime now, std::size_t keep) {
  std::string text = platform::read_file_tail(log_dir + "VTXWeb.log", kLogTailBytes);
  // A tail starts inside a line: drop that part line.
  if (text.size() == kLogTailBytes) {
    const std::size_t first_end = text.find('\n');
    text.erase(0, first_end == std::string::npos ? text.size() : first_end + 1);
  }
  return parse_log_activity(text, now, keep);
}

}  // namespace

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

ModulePresence find_module(const std::string& db_dir) {
  const std::string folder = platform::home_private_folder(db_dir);
  ModulePresence presence;
  const platform::InstanceLock::Holder holder = platform::InstanceLock::holder(folder);
  if (holder.pid) presence.pid = *holder.pid;
  if (!holder.pid && holder.error != 0)
    presence.unknown = "cannot read the lock folder " + folder + ": " + std::strerror(holder.error) +
                       " (ask as root or as the module's account)";
  presence.poll = read_state(folder);
  return presence;
}

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
