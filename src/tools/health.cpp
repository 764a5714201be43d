#include "tools/health.h"

#include <algorithm>
#include <initializer_list>

#include "shell/startup.h"

namespace dexweb::ctl {
namespace {

struct Sample {
  std::string labels;  // "" or {name="value",...}
  long long value;
};

void family(std::string& out, const char* name, const char* type, const char* help, std::initializer_list<Sample> samples) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  for (const Sample& s : samples) out += name + s.labels + " " + std::to_string(s.value) + "\n";
}

void metric(std::string& out, const char* name, const char* type, const char* help, long long value) {
  family(out, name, type, help, {{"", value}});
}

}  // namespace

Health judge_health(const GatewayStatus& status) {
  if (!status.module.pid && !status.module.unknown.empty()) return {false, "unknown: " + status.module.unknown};
  if (!status.module.pid) return {false, "not running: nobody holds this home's instance lock"};
  const auto& poll = status.module.poll;
  if (!poll) return {false, "running as process " + std::to_string(*status.module.pid) + " but it has not polled yet"};
  const long long age = status.now_epoch - poll->last_poll;
  const long long limit = std::max<long long>(2LL * poll->poll_interval, kMinHealthySeconds);
  if (age > limit)
    return {false, "last poll " + std::to_string(age) + " s ago, more than " + std::to_string(limit) + " s"};
  return {true, "ok: process " + std::to_string(*status.module.pid) + ", last poll " + std::to_string(age) + " s ago"};
}

std::string metrics_text(const GatewayStatus& status) {
  const PollState poll = status.module.poll.value_or(PollState{});
  std::string out;
  family(out, "dexweb_build_info", "gauge", "The version of dexwebctl serving these metrics, as a label; always 1.",
         {{"{version=\"" + std::string(module_version()) + "\"}", 1}});
  // Whether the module runs is left out when nobody can tell (the lock folder is unreadable).
  if (status.module.pid || status.module.unknown.empty())
    metric(out, "dexweb_up", "gauge", "1 when a process holds this home's instance lock.", status.module.pid ? 1 : 0);
  family(out, "dexweb_messages_total", "counter",
         "Message files worked by the module's current run: accepted when a recipient got a row, refused when none did.",
         {{"{result=\"accepted\"}", poll.messages_accepted}, {"{result=\"refused\"}", poll.messages_refused}});
  family(out, "dexweb_recipients_total", "counter",
         "Recipients accepted (one row each) and refused by the module's current run.",
         {{"{result=\"accepted\"}", poll.accepted}, {"{result=\"refused\"}", poll.refused}});
  metric(out, "dexweb_message_rows", "gauge", "Rows in the messages table.", status.message_rows);
  metric(out, "dexweb_bad_copies", "gauge", "Refused files kept in the bad folder.",
         static_cast<long long>(status.bad_copies.count));
  metric(out, "dexweb_files_waiting", "gauge", "Message files waiting in the watched folder.",
         static_cast<long long>(status.waiting.count));
  metric(out, "dexweb_files_unreadable", "gauge",
         "Message files left in the watched folder because the module's account cannot read them (0 before any poll).",
         poll.unreadable);
  // Without a waiting file there is no oldest one: the series is left out rather than given
  // a value that an age computed from it would misread.
  if (status.waiting.count)
    metric(out, "dexweb_oldest_waiting_file_timestamp_seconds", "gauge",
           "Modification time of the oldest message file waiting in the watched folder; absent when none waits.",
           status.waiting.oldest_epoch);
  metric(out, "dexweb_last_poll_timestamp_seconds", "gauge",
         "Time of the module's last recorded poll; 0 when none was recorded, so that an age computed from it alarms.",
         poll.last_poll);
  return out;
}

}  // namespace dexweb::ctl
