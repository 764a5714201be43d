#include "logging/error_policy.h"

#include <cstdio>
#include <string>

#include "logging/log_event.h"
#include "logging/monitor_link.h"
#include "logging/reporter.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "util/random.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

enum class ErrorClass { Database, File, Other };

constexpr int kRetryableDbErrors[] = {3002, 3006, 3008, 3009, 3024, 3040, 3043, 3044, 3045, 3046,
                                      3050, 3051, 3146, 3151, 3164, 3186, 3187, 3188, 3189, 3196,
                                      3197, 3202, 3211, 3212, 3218, 3239, 3260, 3261, 3262, 3356,
                                      3465, 3531, 3566, 3572, 3576, 3624, 3733, 3734};

ErrorClass classify(int n) {
  if (n >= 3000 && n < 3800) return ErrorClass::Database;
  if (n >= 52 && n < 77) return ErrorClass::File;
  return ErrorClass::Other;
}

std::string line_for_monitor(LogCategory category, std::string_view text) {
  return monitor_datagram(kModuleName, format_datetime(platform::server_now()), category_name(category), text);
}

// Written straight away, not queued: the module may be about to end. An engine's error text
// may hold line breaks and "|": sanitised like every other line. Standard error gets the
// line too (the journal under systemd), unless the "Warning Message" line says it there.
void report(const std::string& raw_text, bool to_stderr = true) {
  StringBuilder builder(platform::page_size());
  const std::string text = sanitize_log_text(raw_text, builder);
  if (to_stderr) echo_line(std::string(kModuleName) + ": " + text);
  if (monitor_enabled()) send_to_monitors(line_for_monitor(LogCategory::General, text));
  if (log_state().log_to_disk) write_log_direct(text);
}

}  // namespace

struct ErrorPolicy::Verdict {
  enum Kind { Retry, Warn, Halt } kind;
  std::string text;          // monitor and disk text of a warning or halt
  std::string warning_text;  // the text of the "Warning Message" line on standard error
};

// One round of attempts, then warnings, then the halt; a procedure's fresh start ends the
// burst.
// The rounds of one class of errors: attempts per round, rounds that end in a warning, and
// what the warning and the halt call the failing thing.
struct ErrorPolicy::Rounds {
  int attempts;
  int warning_rounds;
  std::string_view subject;
  std::string_view halt_kind;
};

// One round of attempts, then warnings, then the halt; a procedure's fresh start ends the
// burst.
ErrorPolicy::Verdict ErrorPolicy::judge(const RuntimeError& e, std::string_view procedure) {
  static constexpr Rounds kDatabase{6, 2, "database", "Database error: "};
  static constexpr Rounds kFile{11, 5, "file/directory", "File/Directory error: "};
  if (e.is_final()) make_final();
  const std::string p(procedure), what = std::to_string(e.number()) + " " + e.description() + " in " + p;
  retry_count_ += 1;
  switch (classify(e.number())) {
    case ErrorClass::Database: {
      if (!is_retryable_db_error(e.number())) make_final();
      Verdict v = judge_rounds(kDatabase, p, what);
      if (v.kind == Verdict::Halt) db_error_halted_ = true;
      return v;
    }
    case ErrorClass::File:
      return judge_rounds(kFile, p, what);
    default:
      return {Verdict::Halt, "Program Halted. Error# " + what, {}};
  }
}

ErrorPolicy::Verdict ErrorPolicy::judge_rounds(const Rounds& r, const std::string& p, const std::string& what) {
  if (retry_count_ < r.attempts) return {Verdict::Retry, {}, {}};
  retry_round_ += 1;
  retry_count_ = 0;
  const std::string subject(r.subject);
  if (retry_round_ < r.warning_rounds)
    return {Verdict::Warn, "Warning. Unable to access " + subject + ": " + p + ". Retrying...",
            "Unable to access " + subject + ". Retrying..."};
  return {Verdict::Halt, "Program Halted. " + std::string(r.halt_kind) + what, {}};
}

void ErrorPolicy::halt(const std::string& text) {
  report(text);
  if (monitor_enabled()) send_to_monitors(line_for_monitor(LogCategory::Stopped, ""));
  program_halted_ = true;
  throw ModuleHalted{};
}

// A program says the warning on standard error in a line of its own instead of the log line.
void ErrorPolicy::warn(const std::string& text, const std::string& warning_text) {
  report(text, !warning_line_);
  if (!warning_line_) return;
  std::fprintf(stderr, "%s Warning Message: %s\n", kModuleName.data(), warning_text.c_str());
  std::fflush(stderr);
}

void ErrorPolicy::on_error(const RuntimeError& error, std::string_view procedure) {
  Verdict v = judge(error, procedure);
  if (v.kind == Verdict::Halt) halt(v.text);
  if (v.kind == Verdict::Warn) warn(v.text, v.warning_text);
  wait_or_stop(1 + rnd());
}

bool is_retryable_db_error(int number) {
  for (int n : kRetryableDbErrors)
    if (n == number) return true;
  return false;
}

}  // namespace dexweb
