#include "logging/reporter.h"

#include <array>
#include <optional>
#include <utility>

#include "logging/internal/best_effort.h"
#include "logging/log_event.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::size_t kMaxTriggers = 100;
constexpr std::string_view kTriggerFile = "LogMonitorInfo.txt";

// Reads the trigger file's fields one by one: fields end at a comma or a line end, leading
// blanks are skipped, and a field that opens with a double quote runs to the next one.
class FieldReader {
 public:
  explicit FieldReader(std::string_view text) : text_(text) {}

  // The next field, or nullopt at the end of the text. Line ends before a record's first
  // field are skipped, so blank lines between records do not count as fields.
  std::optional<std::string> next(bool record_start) {
    skip(record_start ? " \t\r\n" : " \t");
    if (pos_ >= text_.size()) return std::nullopt;
    std::string field = text_[pos_] == '"' ? quoted() : plain();
    end_field();
    return field;
  }

 private:
  void skip(std::string_view chars) {
    while (pos_ < text_.size() && chars.find(text_[pos_]) != std::string_view::npos) ++pos_;
  }

  std::string quoted() {
    std::size_t close = text_.find('"', pos_ + 1);
    std::size_t end = close == std::string_view::npos ? text_.size() : close;
    std::string field(text_.substr(pos_ + 1, end - pos_ - 1));
    pos_ = std::min(end + 1, text_.size());
    return field;
  }

  std::string plain() {
    std::size_t end = std::min(text_.find_first_of(",\r\n", pos_), text_.size());
    std::string field = text::trim_chars(text_.substr(pos_, end - pos_), " \t");
    pos_ = end;
    return field;
  }

  // Steps over whatever follows the field up to and including its comma or line end.
  void end_field() {
    pos_ = std::min(text_.find_first_of(",\r\n", pos_), text_.size());
    if (pos_ >= text_.size()) return;
    char c = text_[pos_++];
    if (c == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

std::vector<LogTrigger> parse_triggers(std::string_view file_text, std::string_view module_name) {
  std::vector<LogTrigger> rows;
  FieldReader reader(file_text);
  while (rows.size() < kMaxTriggers) {
    std::array<std::string, 4> fields;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      auto field = reader.next(i == 0);
      if (!field) return rows;  // a record cut short by the end of the file is not a row
      fields[i] = std::move(*field);
    }
    if (!text::iequals(fields[0], module_name)) continue;
    LogTrigger& row = rows.emplace_back();
    row.match = decode_escapes(fields[1]);
    row.command_line = decode_escapes(fields[2]);
    row.continue_flag = decode_escapes(fields[3]);
  }
  return rows;
}

void load_triggers(LogTriggerTable& table) {
  table.loaded = true;
  std::string path = platform::resolve_name_nocase(reporter().registry().DB_Dir, std::string(kTriggerFile));
  auto info = platform::stat_path(path);
  if (!info || info->is_dir) return;
  table.rows = parse_triggers(text::decode_bytes(platform::read_file(path)), kModuleName);
}

std::vector<std::string> trigger_arguments(const LogTrigger& row, std::string_view stamp,
                                           std::string_view message) {
  std::vector<std::string> args = platform::split_command_line(row.command_line);
  for (std::string& arg : args) {
    arg = text::ireplace_all(arg, "%DateTime%", stamp);
    arg = text::ireplace_all(arg, "%Module%", kModuleName);
    // Last, so that placeholders inside the message stay as the sender wrote them.
    arg = text::ireplace_all(arg, "%Message%", message);
  }
  return args;
}

// Whether the row may start its program now: its last run has ended (and is reaped) and it
// started fewer than the limit within the window that ends now.
bool may_start(LogTrigger& row, platform::TimePoint now) {
  while (!row.recent_starts.empty() && now - row.recent_starts.front() >= kTriggerStartWindow)
    row.recent_starts.pop_front();
  bool idle = !row.last_run.running();
  return idle && row.recent_starts.size() < kTriggerStartLimit;
}

void start(LogTrigger& row, platform::TimePoint now, std::string_view stamp, std::string_view message) {
  // A program that fails to start counts too, so a broken row cannot fork without end.
  row.recent_starts.push_back(now);
  row.last_run = platform::ChildProcess::start(trigger_arguments(row, stamp, message));
}

void hold_back(LogTrigger& row, platform::TimePoint now) {
  if (row.held_back++ == 0) row.held_since = now;
}

// Marks the table's own line while it is being logged (see own_report).
class OwnReport {
 public:
  OwnReport(LogTriggerTable& table, std::string text) : table_(table), previous_(std::move(table.own_report)) {
    table_.own_report = std::move(text);
  }
  ~OwnReport() { table_.own_report = std::move(previous_); }
  OwnReport(const OwnReport&) = delete;
  OwnReport& operator=(const OwnReport&) = delete;

 private:
  LogTriggerTable& table_;
  std::string previous_;
};

void log_held_back_rows(LogTriggerTable& table, platform::TimePoint now) {
  for (LogTrigger& row : table.rows) {
    if (row.held_back == 0) continue;
    if (!may_start(row, now) && now - row.held_since < kTriggerStartWindow) continue;
    // Cleared first: the report below comes through the triggers again.
    int count = std::exchange(row.held_back, 0);
    std::string line = "Log trigger \"" + row.match + "\" was held back " + std::to_string(count) +
                       (count == 1 ? " time" : " times");
    OwnReport own(table, line);
    log_general(line);
  }
}

}  // namespace

void run_log_triggers(std::string_view report_text, std::string_view stamp) {
  LogTriggerTable& table = log_state().log_triggers;
  if (!table.own_report.empty() && report_text == table.own_report) return;
  if (!table.loaded) best_effort([&] { load_triggers(table); });
  const platform::TimePoint now = platform::clock().now();
  best_effort([&] { log_held_back_rows(table, now); });
  for (LogTrigger& row : table.rows) {
    if (report_text.find(row.match) == std::string_view::npos) continue;
    best_effort([&] {
      if (may_start(row, now)) start(row, now, stamp, report_text);
      else hold_back(row, now);
    });
    if (row.continue_flag == "False") break;
  }
}

}  // namespace dexweb
