#include "tools/health.h"

#include <algorithm>

namespace dexweb::ctl {
namespace {

void metric(std::string& out, const char* name, const char* type, const char* help, long long value) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" + name + " " +
         std::to_string(value) + "\n";
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
  const auto& poll = status.module.poll;
  std::string out;
  // Whether the module runs is left out when nobody can tell (the lock folder is unreadable).
  if (status.module.pid || status.module.unknown.empty())
    metric(out, "dexweb_up", "gauge", "1 when a process holds this home's instance lock.", status.module.pid ? 1 : 0);
  metric(out, "dexweb_messages_accepted_total", "counter", "Recipients accepted by the module's current run.",
         poll ? poll->accepted : 0);
  metric(out, "dexweb_messages_refused_total", "counter", "Recipients refused by the module's current run.",
         poll ? poll->refused : 0);
  metric(out, "dexweb_message_rows", "gauge", "Rows in the messages table.", status.message_rows);
  metric(out, "dexweb_bad_copies", "gauge", "Refused files kept in the bad folder.",
         static_cast<long long>(status.bad_copies.count));
  metric(out, "dexweb_files_waiting", "gauge", "Message files waiting in the watched folder.",
         static_cast<long long>(status.waiting.count));
  metric(out, "dexweb_oldest_waiting_seconds", "gauge", "Age of the oldest waiting message file (0: none).",
         status.waiting.count ? std::max(0LL, status.now_epoch - status.waiting.oldest_epoch) : 0);
  if (poll) {
    metric(out, "dexweb_seconds_since_last_poll", "gauge", "Seconds since the module's last poll.",
           status.now_epoch - poll->last_poll);
    metric(out, "dexweb_files_unreadable", "gauge",
           "Message files left in the watched folder because the module's account cannot read them.", poll->unreadable);
  }
  return out;
}

}  // namespace dexweb::ctl
