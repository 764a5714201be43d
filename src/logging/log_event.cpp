#include "logging/log_event.h"

#include <string>

#include "logging/error_policy.h"
#include "logging/internal/best_effort.h"
#include "logging/log_files.h"
#include "logging/log_state.h"
#include "logging/log_triggers.h"
#include "logging/monitor_link.h"
#include "logging/reporter.h"
#include "logging/sanitize.h"
#include "logging/stderr_echo.h"
#include "platform/clock.h"
#include "platform/system_info.h"
#include "util/module_name.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::size_t kMonitorTextLimit = 1000;

struct Targets {
  bool monitor, disk, message;
};

Targets targets_of(std::string_view target) {
  auto has = [&](std::string_view word) { return text::icontains(target, word); };
  return {has("monitor"), has("disk"), has("message")};
}

bool level_passes(std::string_view level, int log_level) {
  return text::iequals(level, "general") || (text::iequals(level, "detail") && log_level >= 2) ||
         (text::iequals(level, "debug") && log_level >= 3);
}

void queue_disk_lines(Targets to, const std::string& stamp, const std::string& safe) {
  LogState& s = log_state();
  if (to.disk) s.disk_log_queue.push_back({stamp + "  " + safe});
  if (to.message) s.message_log_queue.push_back({stamp + "  " + std::string(kModuleName) + " " + safe});
  if ((to.disk || to.message) && !s.flush_due) s.flush_due = platform::steady_after(1);
}

void count_message_reports(std::string_view text) {
  LogState& s = log_state();
  if (text.starts_with("Message accepted.")) ++s.messages_accepted;
  else if (text.starts_with("Message rejected.")) ++s.messages_refused;
}

void report_to_monitors(Targets to, const std::string& stamp, const std::string& category,
                        const std::string& safe) {
  refresh_monitor_addresses();
  // Sanitised text is ASCII, so bytes count characters here.
  const bool cut = safe.size() > kMonitorTextLimit;
  std::string fields = "|" + stamp + "|" + category + "|";
  fields.append(safe, 0, kMonitorTextLimit);
  fields += cut ? " (truncated in monitor)\r" : "\r";
  send_to_monitors(std::string(kModuleName) + fields);
  if (to.message) send_to_monitors("Velotrax" + fields);
}

// server_now as log text, formatted only when its second changed: local time and the offset
// differ from the UTC clock by whole seconds' worth of zone, so the UTC second plus the
// offset tells when the text changes.
const std::string& time_stamp() {
  LogState& s = log_state();
  const auto second =
      std::chrono::floor<std::chrono::seconds>(platform::clock().now() + platform::server_time_offset());
  if (s.stamp_text.empty() || second != s.stamp_second) {
    s.stamp_text = format_datetime(platform::server_now());
    s.stamp_second = second;
  }
  return s.stamp_text;
}

}  // namespace

void log_event(std::string_view level, std::string_view target, std::string_view category,
               std::string_view text) {
  LogState& s = log_state();
  if (ErrorPolicy* policy = reporter().policy()) policy->start_afresh();
  if (!level_passes(level, s.log_level)) return;

  const std::string stamp = time_stamp();
  if (category != "running") run_log_triggers(text, stamp);
  std::string safe;
  best_effort([&] { safe = sanitize_log_text(text, s.log_builder); });

  Targets to = targets_of(target);
  count_message_reports(text);
  if (to.disk && text::iequals(level, "general") && echoes_log_lines())
    best_effort([&] { echo_line(stamp + "  " + safe); });
  if (s.log_to_disk) best_effort([&] { queue_disk_lines(to, stamp, safe); });
  if (to.monitor && monitor_enabled())
    best_effort([&] { report_to_monitors(to, stamp, text::to_lower(category), safe); });
  if (s.flush_due && platform::clock().steady_now() >= *s.flush_due) flush_log_queues();
}

}  // namespace dexweb
