#include "intake/check_for_messages.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "data/db_object.h"
#include "data/templates_table.h"
#include "intake/claim_folders.h"
#include "intake/internal/intake_call.h"
#include "intake/internal/intake_log.h"
#include "intake/internal/resolution.h"
#include "intake/internal/worked_files.h"
#include "intake/leftover_files.h"
#include "intake/refusals.h"
#include "intake/watched_folder.h"
#include "intake/web_message.h"
#include "logging/error_policy.h"
#include "logging/log_event.h"
#include "platform/accounts.h"
#include "platform/clock.h"
#include "platform/folder.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::size_t kUserLimit = 40;
constexpr std::size_t kSenderLimit = 80;
constexpr std::size_t kMessageLimit = 16000;

// A file being worked: where it lies, and what its record is keyed by.
struct WorkedFile {
  const platform::FolderEntry& entry;
  std::string folder;      // the folder it lies in, ending with '/'
  std::string name_there;  // its name there
  std::string key;         // empty until read when it is worked in place (its identity)
  bool fresh = false;      // claimed just now: it can have no record yet
  bool replay = false;     // its rows are stored: only its reports are made again
};

std::string path_of(const IntakeCall& call, const WebMessage& msg) { return call.folder + msg.file_name; }

void reject(IntakeCall& call, WebMessage& msg, const Refusal& refusal) {
  ++call.ctx.counts.recipients_refused;
  reject_message(msg, refusal, call.notify, call.ctx.registry.Obfuscate_Msg_Chars);
}

bool read_message(IntakeCall& call, const platform::FolderEntry& entry, WebMessage& msg) {
  const std::string path = path_of(call, msg);
  if (!read_entry(entry, msg.bytes)) {
    monitor_status(LogCategory::Bad);
    log_event(LogLevel::General, kWithMessageLog, LogCategory::General, "Unable to read web file: " + path);
    return false;
  }
  if (msg.bytes.size() == kReadLimit) {
    auto stamp = entry.current_stamp();
    msg.cut = stamp && stamp->size > msg.bytes.size();
  }
  if (msg.cut) log_detail("Only the first " + std::to_string(kReadLimit) + " bytes of the web file were read: " + path);
  msg.content = text::decode_bytes(msg.bytes);
  msg.original_content = msg.content;
  msg.bad_copy_path = make_bad_copy_path(call.ctx.registry);
  return true;
}

// The refusal of an invalid message, or none when it is valid.
std::optional<Refusal> parse_and_validate(IntakeCall& call, WebMessage& msg) {
  if (msg.content.find('\0') != std::string::npos) msg.content = strip_nulls(msg.content);
  call.lines.Clear();
  split_web_lines(msg.content, call.lines);
  parse_web_lines(call.lines, msg);
  if (msg.user.empty()) return refusal::no_user_field(msg);
  msg.user = text::left(msg.user, kUserLimit);
  msg.original_recipient = msg.user;
  // frm keeps the sender as given: the query builder quotes the row's texts itself.
  msg.frm = text::left(msg.frm, kSenderLimit);
  msg.sender = msg.frm;
  if (msg.message.empty()) return refusal::no_message_field(msg);
  // A text of no more bytes than the limit has no more characters either.
  if (msg.message.size() > kMessageLimit) msg.message = text::left(msg.message, kMessageLimit);
  msg.user = text::trim(msg.user);
  return std::nullopt;
}

void report(IntakeCall& call, WebMessage& msg, const RecipientOutcome& outcome, bool replay) {
  if (const auto* row = std::get_if<AcceptedRow>(&outcome)) {
    if (replay) return;
    monitor_status(LogCategory::Good);
    ++call.ctx.counts.recipients_accepted;
    log_general("Message accepted. Recipient: " + row->recipient + " Sender: " + msg.sender);
  } else if (const auto* refused = std::get_if<Refusal>(&outcome)) {
    reject(call, msg, *refused);
  } else {
    log_detail("Message to Pin number " + std::get<BlacklistedPin>(outcome).pin + " has been dropped due to black-list");
  }
}

// Commits the file's record with its rows; a refused file's bad copy is made first, so that
// its name is this file's before any record names it. False when another module recorded
// the file first: it reports the file, this one drops it. A replay stores nothing.
bool store(IntakeCall& call, WebMessage& msg, const WorkedFile& file, std::vector<SqlStatement> statements, int rows,
           bool refused) {
  if (file.replay) return true;
  msg.refused = refused;
  if (refused) save_bad_copy(msg, call.ctx.registry);
  WorkedFileRow row{file.key, text::decode_bytes(msg.file_name), refused, refused ? msg.bad_copy_path : "",
                    call.record.current_run_name(), rows, msg.bad_copy_made, !refused};
  if (call.record.store(std::move(statements), row)) return true;
  log_detail("The web file was worked already and is not worked again: " + path_of(call, msg));
  return false;
}

// The rows and the record are committed before anything is reported, so that a failure
// leaves neither rows nor notifications behind and the file can be worked again from the
// start.
bool resolve_and_store(IntakeCall& call, WebMessage& msg, const WorkedFile& file) {
  ResolutionContext resolution{call.ctx.db, call.ctx.policy, call.ctx.recipients, call.ctx.blacklist, call.query, call.rows};
  std::vector<RecipientOutcome> outcomes = resolve_recipients(resolution, msg);
  std::vector<SqlStatement> statements;
  // The id is taken first, so that the rows after it read its new value.
  if (!msg.id_with_rows.empty())
    statements.emplace_back(call.ctx.db.SqlDialect().counter_advance(call.ctx.db.Counter().record_id));
  bool refused = false;
  int rows = 0;
  for (RecipientOutcome& outcome : outcomes) {
    // The statements are not needed for the reports after the commit.
    if (auto* row = std::get_if<AcceptedRow>(&outcome)) {
      statements.push_back(std::move(row->statement));
      ++rows;
    }
    refused = refused || std::holds_alternative<Refusal>(outcome);
  }
  if (!store(call, msg, file, std::move(statements), rows, refused)) return false;
  for (const RecipientOutcome& outcome : outcomes) report(call, msg, outcome, file.replay);
  // A replay only finishes the reports of a file an earlier run counted.
  if (file.replay) return true;
  if (msg.any_accepted) ++call.ctx.counts.accepted;
  else if (refused) ++call.ctx.counts.refused;
  return true;
}

// True when this run stored the file and made its reports.
bool work_message(IntakeCall& call, WebMessage& msg, const WorkedFile& file) {
  run_raw_interface_filter(call.interface_settings, call.filter, msg);
  if (msg.filter_aborted) {
    if (!store(call, msg, file, {}, 0, false)) return false;
    log_detail("Filter requested abort");
    return true;
  }
  if (const std::optional<Refusal> invalid = parse_and_validate(call, msg)) {
    if (!store(call, msg, file, {}, 0, true)) return false;
    reject(call, msg, *invalid);
    if (!file.replay) ++call.ctx.counts.refused;
    return true;
  }
  run_interface_filter(call.interface_settings, call.filter, msg);
  if (msg.filter_aborted) {
    if (!store(call, msg, file, {}, 0, false)) return false;
    log_detail("Filter requested abort");
    return true;
  }
  return resolve_and_store(call, msg, file);
}

// A refused file whose bad copy could not be made stays until the copy exists.
void keep_for_copy(IntakeCall& call, const WorkedFile& file, const WebMessage& msg) {
  auto stamp = file.entry.current_stamp();
  if (!stamp) return;
  call.ctx.leftover_files.remember_pending_copy(
      {file.folder, file.name_there, *stamp, msg.bad_copy_path, msg.cut, file.key});
  warn_detail("The web file stays in the folder until its bad copy can be made: " + path_of(call, msg));
}

void finish_file(IntakeCall& call, const WorkedFile& file, const WebMessage& msg) {
  if (msg.refused && !msg.bad_copy_made) {
    keep_for_copy(call, file, msg);
  } else if (!delete_with_retries(file.entry, 3, 0.5)) {
    log_detail("Error: Unable to delete web file");
    if (call.ctx.leftover_files.remember(file.folder, file.name_there))
      warn_detail("The web file is not worked again while it stays as it is: " + path_of(call, msg));
  }
  log_detail("Completed working on message: " + msg.file_name);
}

// What an operator needs to make a file readable: its owner and mode, the module's account
// and the system's reason.
std::string unreadable_explained(const std::string& path, const platform::FolderEntry& entry) {
  const auto owned = platform::ownership(path);
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", owned ? owned->mode : 0u);
  const std::string who = platform::current_account();
  return std::string(kModuleName) + ": Unable to read web file: " + path + ": " +
         (entry.error() ? std::strerror(entry.error()) : "read error") + " (owner " +
         (owned ? owned->owner : "?") + ", group " + (owned ? owned->group : "?") + ", mode " + mode +
         "; the module runs as " + who + "). It stays in the folder and is tried again once it changes. " +
         "Fix: let the web writers write into a folder set up by `dexwebctl init --system` (a group of its own, "
         "setgid, with a default ACL for " + who + "), or make the file readable to " + who;
}

// A file that could not be read may still hold a message: it is kept, not deleted, and said
// once on standard error, where a service's journal keeps it.
void leave_unread(IntakeCall& call, const WorkedFile& file, const WebMessage& msg) {
  if (!call.ctx.leftover_files.remember(file.folder, file.name_there, true)) return;
  log_detail("The unreadable web file is left in the folder and not tried again while it stays as it is: " +
             path_of(call, msg));
  echo_line(unreadable_explained(file.folder + file.name_there, file.entry));
}

// A file recorded as worked gets no new rows: what its record says is missing is made (the
// bad copy; the reports and notifications of its refusals, when a kill or a halt came
// between its commit and their end), then it is deleted (or left, never to be worked again).
void finish_recorded(IntakeCall& call, WorkedFile& file, WebMessage& msg, const WorkedEntry& found) {
  log_detail("The web file was worked already and is not worked again: " + path_of(call, msg));
  msg.refused = found.refused;
  msg.bad_copy_made = found.copy_made;
  if (!found.bad_copy.empty()) msg.bad_copy_path = found.bad_copy;
  if (found.refused && !found.copy_made) {
    if (save_bad_copy(msg, call.ctx.registry)) {
      log_detail("Bad copy made: " + msg.bad_copy_path);
      call.record.note_copy_made(file.key, msg.bad_copy_path);
    } else {
      warn_detail("Unable to copy web file to bad folder.");
    }
  }
  if (!found.notified) {
    file.replay = true;
    work_message(call, msg, file);
    call.record.note_notified(file.key);
  }
  finish_file(call, file, msg);
}

// From the read to the deletion.
void work_file(IntakeCall& call, WorkedFile& file, WebMessage& msg) {
  log_detail("Working on message: " + msg.file_name);
  if (!read_message(call, file.entry, msg)) return leave_unread(call, file, msg);
  // A file noted as unreadable that has become readable is no longer counted as such.
  if (call.ctx.leftover_files.count() > 0) call.ctx.leftover_files.forget(file.folder, file.name_there);
  WorkedFiles& record = call.prepared_record();
  if (file.key.empty()) file.key = FileIdentity(msg.file_name, file.entry.stamp(), msg.bytes);
  if (!file.fresh && record.enabled()) {
    if (auto found = call.ctx.policy.with_retry(kIntakeProcedure, [&] { return record.Find(file.key); }))
      return finish_recorded(call, file, msg, *found);
  }
  if (work_message(call, msg, file) && msg.refused) record.note_notified(file.key);
  finish_file(call, file, msg);
}

// A claimed file, from its claim folder (through the descriptor opened before the claim where
// that is still the file claimed). One its writer holds open (another file took the name
// between the scan's look and the claim) waits there for a later poll.
void work_claimed(IntakeCall& call, const ClaimedFile& claimed, bool fresh,
                  std::optional<platform::FolderEntry> opened = std::nullopt) {
  if (!opened || !opened->follow(claimed.folder->fd(), claimed.claim_name, call.folder + claimed.name))
    opened = platform::FolderEntry::open_at(claimed.folder->fd(), claimed.claim_name, call.folder + claimed.name);
  const platform::FolderEntry& entry = *opened;
  using Status = platform::FolderEntry::Status;
  if (entry.status() == Status::Gone) return;
  if (entry.status() == Status::NotRegular) {
    if (call.ctx.leftover_files.remember(claimed.folder->path(), claimed.claim_name))
      warn_general("Not a regular file, left alone: " + claimed.folder->path() + claimed.claim_name);
    return;
  }
  if (entry.writer() == platform::WriterState::Open) return call.ctx.claims.look_again();
  WebMessage msg;
  msg.file_name = claimed.name;
  WorkedFile file{entry, claimed.folder->path(), claimed.claim_name, claimed.key, fresh, false};
  work_file(call, file, msg);
}

}  // namespace

WorkedFiles& IntakeCall::prepared_record() {
  if (!std::exchange(record_prepared, true))
    ctx.policy.with_retry(kIntakeProcedure, [&] {
      record.prepare([&](const std::string& key, const std::string& name) {
        return ctx.claims.still_present(*watched, key, name);
      });
    });
  return record;
}

void leave_non_regular_entry(const std::string& folder, const std::string& name, std::uint64_t inode,
                             LeftoverFiles& leftovers) {
  if (leftovers.note_not_regular(folder, name, inode)) warn_general("Not a regular file, left alone: " + folder + name);
}

namespace {

// A file of the watched folder that is worked where it lies.
void work_in_place(IntakeCall& call, const platform::FolderEntry& entry, const std::string& name) {
  WebMessage msg;
  msg.file_name = name;
  WorkedFile file{entry, call.folder, name, {}, false, false};
  work_file(call, file, msg);
}

}  // namespace

void process_message_file(IntakeCall& call, const std::string& name) {
  using Status = platform::FolderEntry::Status;
  // A file the module may not read is not claimed: it stays where the web side put it,
  // where its owner can fix it, and is said once.
  auto unclaimed = platform::FolderEntry::open_at(call.watched->fd(), name, call.folder + name);
  if (unclaimed.status() == Status::Failed && unclaimed.error() == EACCES) return work_in_place(call, unclaimed, name);
  ClaimedFile claimed;
  switch (call.ctx.claims.claim(*call.watched, name, claimed)) {
    case ClaimFolders::Outcome::Gone: return;
    case ClaimFolders::Outcome::Claimed:
      // The name has left the folder: the next scan need not find that out.
      if (call.ctx.folder_index) call.ctx.folder_index->forget(name);
      return work_claimed(call, claimed, true, std::move(unclaimed));
    case ClaimFolders::Outcome::InPlace: break;
  }
  const auto entry = platform::FolderEntry::open_at(call.watched->fd(), name, call.folder + name);
  if (entry.status() == Status::Gone) return;
  if (entry.status() == Status::NotRegular) {
    const auto stamp = call.watched->stamp(name);
    return leave_non_regular_entry(call.folder, name, stamp ? stamp->inode : 0, call.ctx.leftover_files);
  }
  work_in_place(call, entry, name);
}

std::vector<ClaimedFile> claimed_files_to_finish(IntakeCall& call) {
  std::vector<ClaimedFile> files = call.ctx.claims.files_to_finish();
  std::erase_if(files, [&](const ClaimedFile& claimed) {
    const auto stamp = claimed.folder->stamp(claimed.claim_name);
    return !stamp || call.ctx.leftover_files.unchanged(claimed.folder->path(), claimed.claim_name, *stamp);
  });
  return files;
}

void finish_claimed_files(IntakeCall& call, const std::vector<ClaimedFile>& files) {
  for (const ClaimedFile& claimed : files) {
    if (call.ctx.stop_requested()) return;
    work_claimed(call, claimed, false);
  }
}

namespace {

std::string as_folder(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

// Files are started only during the budget, and not once the module is asked to stop; the
// rest wait for the next poll.
void work_listed_files(IntakeCall& call) {
  const platform::SteadyPoint end = platform::steady_after(kPollBudgetSeconds);
  for (int i = 1; i <= call.files.Count() && platform::clock().steady_now() < end && !call.ctx.stop_requested(); ++i)
    process_message_file(call, call.files.GetNameByIndex(i));
}

}  // namespace

IntakeCall::IntakeCall(IntakeContext& context)
    : ctx(context),
      folder(as_folder(context.settings.dexwebcgi_path)),
      record(context.db, context.policy, context.leftover_files.worked_state(), context.machine_name,
             worked_retention_days(context.registry)),
      notify{context.db, context.settings, context.policy, context.registry.Prog_Dir},
      rows{context.interface_name, context.machine_name, context.settings.retry_interval_text} {
  filter.prog_dir = context.registry.Prog_Dir;
  filter.temp_folder = context.temp_folder;
  lines.SetCaseSensitive(false);
  lines.SetGrowSize(50);
}

bool check_for_messages(IntakeContext& ctx) {
  ctx.policy.start_afresh();
  ctx.held_only = false;
  IntakeCall call(ctx);
  const platform::Folder watched = ctx.watched_folder.open(call.folder, ctx.first_poll);
  if (!watched) return false;
  call.watched = &watched;
  ctx.claims.attach(watched);
  retry_pending_copies(ctx.leftover_files, ctx.registry, [&](const LeftoverFiles::PendingCopy& made) {
    call.prepared_record().note_copy_made(made.key, made.copy_path);
  });
  const PassedOver passed = ctx.policy.with_retry(kIntakeProcedure, [&] {
    return list_message_files(watched, ctx.leftover_files, ctx.writers, call.writer_wait_left, call.files,
                              ctx.folder_index);
  });
  const std::vector<ClaimedFile> claimed = claimed_files_to_finish(call);
  if (call.files.Count() == 0 && claimed.empty()) {
    ctx.held_only = passed.holding > 0 && passed.settling == 0;
    return passed.holding + passed.settling > 0;
  }
  call.interface_settings = ctx.policy.with_retry(kIntakeProcedure, [&] { return effective_interface_settings(ctx.db); });
  finish_claimed_files(call, claimed);
  work_listed_files(call);
  return true;
}

}  // namespace dexweb
