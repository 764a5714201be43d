#include "logging/error_policy.h"

#include <cstdio>
#include <string>

#include "config/globals.h"
#include "logging/log_files.h"
#include "logging/log_state.h"
#include "logging/monitor_link.h"
#include "logging/sanitize.h"
#include "logging/stderr_echo.h"
#include "platform/event_loop.h"
#include "platform/files.h"
#include "platform/system_info.h"
#include "util/random.h"
#include "util/module_name.h"
#include "platform/clock.h"

namespace dexweb {
namespace {

enum class ErrorClass { Database, File, Other };

struct Verdict {
  enum Kind { Retry, Warn, Halt } kind;
  std::string text;         // monitor and disk text of a warning or halt
  std::string warning_text;  // the text of the "Warning Message" line on standard error
};

constexpr int kRetryableDbErrors[] = {3002, 3006, 3008, 3009, 3024, 3040, 3043, 3044, 3045, 3046,
                                      3050, 3051, 3146, 3151, 3164, 3186, 3187, 3188, 3189, 3196,
                                      3197, 3202, 3211, 3212, 3218, 3239, 3260, 3261, 3262, 3356,
                                      3465, 3531, 3566, 3572, 3576, 3624, 3733, 3734};

ErrorClass classify(int n) {
  if (n >= 3000 && n < 3800) return ErrorClass::Database;
  if (n >= 52 && n < 77) return ErrorClass::File;
  return ErrorClass::Other;
}

// One round of attempts, then warnings, then the halt: the counters live in globals so
// that a procedure's fresh start ends the burst.
Verdict judge(const RuntimeError& e, std::string_view procedure) {
  Globals& g = globals();
  std::string p(procedure), nd = std::to_string(e.number()) + " " + e.description() + " in " + p;
  g.retry_count += 1;
  switch (classify(e.number())) {
    case ErrorClass::Database:
      if (!is_retryable_db_error(e.number())) g.retry_count = g.retry_round = 100;
      if (g.retry_count < 6) return {Verdict::Retry, {}, {}};
      g.retry_round += 1;
      g.retry_count = 0;
      if (g.retry_round < 2)
        return {Verdict::Warn, "Warning. Unable to access database: " + p + ". Retrying...",
                "Unable to access database. Retrying..."};
      g.db_error_halted = true;
      return {Verdict::Halt, "Program Halted. Database error: " + nd, {}};
    case ErrorClass::File:
      if (g.retry_count < 11) return {Verdict::Retry, {}, {}};
      g.retry_round += 1;
      g.retry_count = 0;
      if (g.retry_round < 5)
        return {Verdict::Warn, "Warning. Unable to access file/directory: " + p + ". Retrying...",
                "Unable to access file/directory. Retrying..."};
      return {Verdict::Halt, "Program Halted. File/Directory error: " + nd, {}};
    default:
      return {Verdict::Halt, "Program Halted. Error# " + nd, {}};
  }
}

std::string line_for_monitor(const std::string& category, const std::string& text) {
  return std::string(kModuleName) + "|" + format_datetime(platform::server_now()) + "|" + category + "|" + text + "\r";
}

// Written straight away, not queued: the module may be about to end. An engine's error text
// may hold line breaks and "|": sanitised like every other line. Standard error gets the
// line too (the journal under systemd), unless the "Warning Message" line says it there.
void report(const std::string& raw_text, bool to_stderr = true) {
  StringBuilder builder(platform::page_size());
  const std::string text = sanitize_log_text(raw_text, builder);
  if (to_stderr) echo_line(std::string(kModuleName) + ": " + text);
  if (monitor_enabled()) send_to_monitors(line_for_monitor("general", text));
  if (log_state().log_to_disk) {
    begin_direct_write();
    try {
      platform::append_file(module_log_path(), format_datetime(platform::server_now()) + "  " + text + "\r\n");
    } catch (const RuntimeError&) {
    }
    platform::process_pending();
    end_direct_write();
  }
}

bool warning_line_shown() { return globals().registry.Run_Type == "Application"; }

void show_warning_line(const std::string& warning_text) {
  if (!warning_line_shown()) return;
  std::fprintf(stderr, "%s Warning Message: %s\n", kModuleName.data(), warning_text.c_str());
  std::fflush(stderr);
}

[[noreturn]] void halt(const std::string& text) {
  report(text);
  if (monitor_enabled()) send_to_monitors(line_for_monitor("stopped", ""));
  globals().program_halted = true;
  throw ModuleHalted{};
}

void handle(const RuntimeError& e, std::string_view procedure) {
  Verdict v = judge(e, procedure);
  if (v.kind == Verdict::Halt) halt(v.text);
  if (v.kind == Verdict::Warn) {
    report(v.text, !warning_line_shown());
    show_warning_line(v.warning_text);
  }
  platform::wait_seconds(1 + rnd());
}

}  // namespace

bool is_retryable_db_error(int number) {
  for (int n : kRetryableDbErrors)
    if (n == number) return true;
  return false;
}

void on_error(const RuntimeError& error, std::string_view procedure) { handle(error, procedure); }

}  // namespace dexweb
