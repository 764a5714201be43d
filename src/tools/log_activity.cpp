#include "tools/log_activity.h"

#include <algorithm>

#include "platform/files.h"
#include "tools/text_lines.h"

namespace dexweb::ctl {
namespace {

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

}  // namespace

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

LogActivity read_log_activity(const std::string& log_dir, DateTime now, std::size_t keep) {
  std::string text = platform::read_file_tail(log_dir + "VTXWeb.log", kLogTailBytes);
  // A tail starts inside a line: drop that part line.
  if (text.size() == kLogTailBytes) {
    const std::size_t first_end = text.find('\n');
    text.erase(0, first_end == std::string::npos ? text.size() : first_end + 1);
  }
  return parse_log_activity(text, now, keep);
}

}  // namespace dexweb::ctl
