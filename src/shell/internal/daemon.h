#pragma once
// The daemon: the module's process anchor. It owns the per-run state that the poll cycle and
// the intake share (the registry settings read at start, the error policy, the reporter,
// which it installs for its lifetime, the one database object, the copies of the settings
// and control rows, the recipient dictionary and the blacklist), the two timers (poll_timer:
// the poll cycle; log_timer: the log flush), and the run itself: run turns the event loop
// until a stop is requested or the module halts, then runs the one stop sequence and returns
// the exit status. Its state is grouped in owners: the poll schedule and report
// (shell/internal/poll_schedule.h), the gateway's rows and the clock sync
// (shell/internal/gateway_rows.h). A stop request (a signal, the control row) only sets a flag: it is acted
// on at the top of the loop, or between message files. A stop signal that comes while the
// work of a file waits (a retry, a writer, a filter program, a pause) abandons that work
// (platform::StopRequested): its transaction rolls back and the file stays, in the folder
// or claimed, for the next run.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "config/registry.h"
#include "data/db_object.h"
#include "intake/recipients.h"
#include "data/sql_text.h"
#include "intake/claim_folders.h"
#include "intake/watched_folder.h"
#include "intake/check_for_messages.h"
#include "intake/leftover_files.h"
#include "logging/error_policy.h"
#include "logging/reporter.h"
#include "platform/event_loop.h"
#include "platform/folder.h"
#include "platform/private_files.h"
#include "shell/internal/gateway_rows.h"
#include "shell/internal/poll_schedule.h"

namespace dexweb {

class Daemon {
 public:
  // What a poll does with the watched folder: true when it held message files. The intake's
  // poll (poll_intake) unless whoever makes the daemon gives another, which may call it.
  using Poll = std::function<bool(Daemon&)>;

  // registry: the settings read at start, lent read-only to every procedure.
  Daemon(platform::EventLoop& loop, RegistrySettings registry, Poll poll = {});
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // The load handler: sets the per-run state and creates the timers.
  void load();
  // What the run keeps in the home's private folder, taken up only once the run holds the
  // home's instance lock: the unique-name sequence, which goes on from earlier runs, and the
  // filters' temporary folder (mode 0700), emptied of what a killed run left there.
  // temp_folder() stays empty (the filters then say so) when it cannot be made.
  void settle_in_home();
  // Switches the poll timer on; its first tick comes 100 ms later.
  void enable_poll_timer();
  // Removes the mail files and bad copies that an earlier run left half-written (it ended in
  // the middle of one), one general log line per folder that had any. Only for the run that
  // holds the instance lock: the outgoing mail folder is this data folder's.
  void remove_half_written_files();

  // The service Start event: true when the module was started.
  bool service_start();
  bool service_started() const { return service_started_; }

  // Asks the run to end: from a signal or the service manager (by_module false), or from
  // the module itself (the control row's run flag or pause; under the service manager it
  // then says STOPPING=1). Only sets the flag.
  void request_stop(bool by_module);
  bool stop_requested() const { return stop_requested_ || platform::stop_requested(); }
  // An operator's request (SIGHUP) to read the registry settings (into a new copy that
  // replaces registry; the values the run is bound to stay), the blacklist and the monitor
  // settings again; acted on at the top of the loop. It never stops the module.
  void reload_on_request();

  // Turns the event loop until a stop is requested or the module halts, then ends the run.
  int run();
  // The end of the run: the stop sequence (program mode with its short waits), and the exit
  // status: 1 after a halt, 0 otherwise.
  int finish();
  // What the top of the run does with a halt that unwound to it: the stop sequence unless
  // the module never started; always status 1.
  int finish(const ModuleHalted& halt);

  // One tick of poll_timer (public for tests that drive the cycle tick by tick).
  void poll_tick();
  // The intake's poll of the watched folder: true when it held message files.
  bool poll_intake();

  // The registry settings read at start (and again at an operator's request); the
  // procedures get them read-only.
  const RegistrySettings& registry() const { return registry_; }
  // The error routine of the run's procedures.
  ErrorPolicy& policy() { return policy_; }
  // The database object, made at the first tick; null before it and after a halt that
  // released it.
  const DBObject* database() const { return db_.get(); }
  // The filters' temporary folder (settle_in_home); empty when there is none.
  const std::string& temp_folder() const { return temp_folder_; }
  // The next refresh still has to bring server_now onto the gateway's clock.
  bool time_sync_pending() const { return clock_sync_.pending(); }

 private:
  // A step of the tick under the error policy.
  template <typename Step>
  auto retried(Step&& step) {
    return policy_.with_retry("Procedure: repeat_timer", std::forward<Step>(step));
  }

  // DB_Dir + "MailOut/".
  std::string mail_out_folder() const;
  void stop_sequence(bool unloading);

  // Steps of the tick, in their order.
  void open_at_first_tick();
  // Logs text and its cause (both also on standard error) and throws ModuleHalted.
  [[noreturn]] void refuse_database(const std::string& text, const std::string& cause);
  std::string open_failure(const std::string& reason) const;
  // A line on standard error only (the log keeps its own lines).
  void tell_operator(const std::string& text);
  bool service_mode() const;
  void reload_if_requested();
  void refresh(bool at_first_tick);
  void pause_at_start();
  void align_clock(bool at_first_tick);
  // True when the next poll should follow at once.
  bool poll_folder();
  void hourly_ping();
  bool instant_pickup() const { return registry_.Instant_Pickup; }
  // Watches the watched folder while instant pickup is on; the timer alone where it cannot.
  void watch_folder();
  void files_landed();
  // For a poll: the watched folder's entries by age, told what the folder watch saw since
  // the last poll; null when no watch runs (each poll lists the folder then).
  FolderIndex* current_folder_index();

  RegistrySettings registry_;
  ErrorPolicy policy_;
  Poll poll_;
  Reporter reporter_;
  ReporterInstall reporter_install_;
  platform::EventLoop& loop_;
  platform::EventLoop::TimerId poll_timer_ = 0;
  platform::EventLoop::TimerId log_timer_ = 0;

  PollSchedule schedule_;
  PollReport report_;
  GatewayRows rows_;
  ClockSync clock_sync_;

  std::string interface_name_ = "DexWeb";
  std::string machine_name_;
  std::string temp_folder_;
  std::unique_ptr<platform::PrivateFolder> private_temp_;  // removed at stop

  std::unique_ptr<DBObject> db_;
  RecipientList recipients_;  // emptied before every poll
  BlackList blacklist_;       // read once, at the first refresh
  LeftoverFiles leftovers_;   // worked files that could not be deleted
  WriterWatch writers_;       // web files whose writers may not have finished
  MessageCounts message_counts_;  // message files of this run, by outcome
  WatchedFolder watched_folder_;  // where the watched folder lay at the run's first look
  ClaimFolders claims_;       // the run's claims in the watched folder
  // Instant pickup: the folder watch, and the watched folder's entries it keeps.
  std::unique_ptr<platform::FolderWatch> folder_watch_;
  FolderIndex folder_index_;

  bool service_started_ = false;
  bool stop_requested_ = false;
  bool stop_by_module_ = false;
  bool reload_requested_ = false;
};

}  // namespace dexweb
