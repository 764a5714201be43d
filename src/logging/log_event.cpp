#include "logging/log_event.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "logging/error_policy.h"
#include "logging/internal/best_effort.h"
#include "logging/monitor_link.h"
#include "logging/reporter.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::size_t kMonitorTextLimit = 1000;

bool level_passes(LogLevel level, int log_level) {
  return level == LogLevel::General || static_cast<int>(level) <= log_level;
}

void queue_disk_lines(LogTarget to, const std::string& stamp, const std::string& safe) {
  LogState& s = log_state();
  const bool disk = has_target(to, LogTarget::Disk), message = has_target(to, LogTarget::Message);
  if (disk) s.disk_log_queue.push_back({log_line(stamp, safe)});
  if (message) s.message_log_queue.push_back({log_line(stamp, std::string(kModuleName) + " " + safe)});
  if ((disk || message) && !s.flush_due) s.flush_due = platform::steady_after(1);
}

void report_to_monitors(LogTarget to, const std::string& stamp, LogCategory category, const std::string& safe) {
  refresh_monitor_addresses();
  // Sanitised text is ASCII, so bytes count characters here.
  const bool cut = safe.size() > kMonitorTextLimit;
  std::string text = safe.substr(0, kMonitorTextLimit);
  if (cut) text += " (truncated in monitor)";
  send_to_monitors(monitor_datagram(kModuleName, stamp, category_name(category), text));
  if (has_target(to, LogTarget::Message))
    send_to_monitors(monitor_datagram("Velotrax", stamp, category_name(category), text));
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

bool is_safe(char32_t cp) { return cp >= U' ' && cp <= U'~' && cp != U'|'; }

}  // namespace

std::string_view category_name(LogCategory category) {
  switch (category) {
    case LogCategory::Good: return "good";
    case LogCategory::Bad: return "bad";
    case LogCategory::Running: return "running";
    case LogCategory::Stopped: return "stopped";
    case LogCategory::General: break;
  }
  return "general";
}

void log_event(LogLevel level, LogTarget to, LogCategory category, std::string_view text) {
  LogState& s = log_state();
  if (ErrorPolicy* policy = reporter().policy()) policy->start_afresh();
  if (!level_passes(level, s.log_level)) return;

  const std::string stamp = time_stamp();
  if (category != LogCategory::Running) run_log_triggers(text, stamp);
  std::string safe;
  best_effort([&] { safe = sanitize_log_text(text, s.log_builder); });

  if (has_target(to, LogTarget::Disk) && level == LogLevel::General && echoes_log_lines())
    best_effort([&] { echo_line(log_line(stamp, safe)); });
  if (s.log_to_disk) best_effort([&] { queue_disk_lines(to, stamp, safe); });
  if (has_target(to, LogTarget::Monitor) && monitor_enabled())
    best_effort([&] { report_to_monitors(to, stamp, category, safe); });
  if (s.flush_due && platform::clock().steady_now() >= *s.flush_due) flush_log_queues();
}

void log_general(std::string_view text) { log_event(LogLevel::General, kMonitorDisk, LogCategory::General, text); }
void log_detail(std::string_view text) { log_event(LogLevel::Detail, kMonitorDisk, LogCategory::General, text); }
void log_debug(std::string_view text) { log_event(LogLevel::Debug, kMonitorDisk, LogCategory::General, text); }
void monitor_status(LogCategory category) { log_event(LogLevel::General, LogTarget::Monitor, category, ""); }

std::string sanitize_log_text(std::string_view text, StringBuilder& builder) {
  // Most report texts are safe throughout, and a byte below 0x80 is its own character.
  if (std::all_of(text.begin(), text.end(), [](char c) { return is_safe(static_cast<unsigned char>(c)); }))
    return std::string(text);
  builder.Clear();
  std::u32string chars = text::to_u32(text);
  std::size_t run_start = 0;
  // Safe characters are appended in runs, so that a long clean text costs one append.
  for (std::size_t i = 0; i <= chars.size(); ++i) {
    if (i < chars.size() && is_safe(chars[i])) continue;
    builder.Append(text::to_utf8(std::u32string_view(chars).substr(run_start, i - run_start)));
    if (i < chars.size()) builder.Append("<" + std::to_string(static_cast<unsigned long>(chars[i])) + ">");
    run_start = i + 1;
  }
  return builder.ToString();
}

bool echoes_log_lines() {
  // Standard error stays what it was at the start; asked for every log line otherwise.
  static const bool terminal = platform::is_terminal(2);
  return terminal;
}

void echo_line(std::string_view text) {
  std::string line(text);
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace dexweb
