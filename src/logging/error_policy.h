#pragma once
// The module's one error policy. A step that can fail runs inside with_retry: when it raises
// a RuntimeError, the error routine classifies the error by number and either waits 1 to 2 s
// and lets the step run again, warns after repeated failures, or halts the module: it writes
// the halt line and throws ModuleHalted, which unwinds every procedure to the top of the
// run; there the stop sequence runs and the run ends with status 1. Keep steps small, so
// that running one again repeats no side effect.
//
// The daemon owns the one policy of the run and lends it to each procedure; every report
// of log_event starts the counters afresh, as a procedure's own fresh start does.

#include <string>
#include <string_view>
#include <utility>

#include "util/runtime_error.h"

namespace dexweb {

// The run is over with status 1. Deliberately not a std::exception, so that no handler of
// ordinary errors can swallow it on its way to the top of the run. stop_sequence is false
// for a module that never started (the database refused at the first tick of a program).
struct ModuleHalted {
  bool stop_sequence = true;
};

class ErrorPolicy {
 public:
  // warning_line: a program (Run_Type Application) says each warning on standard error as
  // a "Warning Message" line instead of the warning's log line.
  explicit ErrorPolicy(bool warning_line = false) : warning_line_(warning_line) {}

  // The error routine of every procedure of the daemon. Returns after the retry wait, or
  // halts (throws ModuleHalted); a halt always runs the stop sequence, so that "Module
  // Stopped" and the monitor's stop status are never missing. A final error halts at once.
  // A stop requested before or during the retry wait throws platform::StopRequested.
  void on_error(const RuntimeError& error, std::string_view procedure);

  // Runs step until it succeeds; each failure goes through on_error with procedure
  // ("Procedure: " + name).
  template <typename Step>
  auto with_retry(std::string_view procedure, Step&& step) -> decltype(step()) {
    for (;;) {
      try {
        return step();
      } catch (const RuntimeError& e) {
        on_error(e, procedure);
      }
    }
  }

  // A procedure's fresh start ends the burst of failures.
  void start_afresh() { retry_count_ = retry_round_ = 0; }
  // The next error halts: a failure was given up on and the caller went on.
  void make_final() { retry_count_ = retry_round_ = kFinal; }
  // The run ended with a halt that did not pass through the error routine.
  void note_halt() { program_halted_ = true; }

  bool program_halted() const { return program_halted_; }
  // The halt was a database error: the stop sequence leaves the database alone.
  bool db_error_halted() const { return db_error_halted_; }
  // Failed attempts in this round, and warning rounds given.
  int retry_count() const { return retry_count_; }
  int retry_round() const { return retry_round_; }

 private:
  static constexpr int kFinal = 100;
  struct Verdict;
  struct Rounds;
  Verdict judge(const RuntimeError& e, std::string_view procedure);
  Verdict judge_rounds(const Rounds& rounds, const std::string& procedure, const std::string& what);
  [[noreturn]] void halt(const std::string& text);
  void warn(const std::string& text, const std::string& warning_text);

  bool warning_line_;
  bool program_halted_ = false;
  bool db_error_halted_ = false;
  int retry_count_ = 0;
  int retry_round_ = 0;
};

// True for the database error numbers that a retry can cure (locks, time-outs, lost
// connections).
bool is_retryable_db_error(int number);

}  // namespace dexweb
