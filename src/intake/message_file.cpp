// The per-file sequence of check_for_messages.
#include <optional>
#include <variant>
#include <vector>

#include "data/db_object.h"
#include "intake/bad_copies.h"
#include "intake/internal/intake_call.h"
#include "intake/internal/intake_log.h"
#include "intake/internal/refusals.h"
#include "intake/internal/resolution.h"
#include "intake/internal/worked_files.h"
#include "intake/leftover_files.h"
#include "intake/text_helpers.h"
#include "intake/web_file_parser.h"
#include "intake/writer_watch.h"
#include "logging/error_policy.h"
#include "logging/log_event.h"
#include "platform/event_loop.h"
#include "platform/file_helpers.h"
#include "platform/folder_entry.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::size_t kUserLimit = 40;
constexpr std::size_t kSenderLimit = 80;
constexpr std::size_t kMessageLimit = 16000;

std::string path_of(const IntakeCall& call, const WebMessage& msg) { return call.folder + msg.file_name; }

void reject(IntakeCall& call, WebMessage& msg, const Refusal& refusal) {
  reject_message(msg, refusal, call.notify, call.ctx.registry.Obfuscate_Msg_Chars);
}

// Waits while the writer may still be busy, as long as the poll's waiting allowance lasts.
bool writer_finished(IntakeCall& call, const platform::FolderEntry& entry, const std::string& name) {
  for (;;) {
    if (!call.ctx.writers.busy(entry, name)) return true;
    if (call.writer_wait_left <= 0) return false;
    platform::wait_seconds(kWriterPollSeconds);
    call.writer_wait_left -= kWriterPollSeconds;
  }
}

bool read_message(IntakeCall& call, const platform::FolderEntry& entry, WebMessage& msg) {
  const std::string path = path_of(call, msg);
  if (!read_entry(entry, msg.bytes)) {
    monitor_status("bad");
    log_event("general", "monitor/disk/message", "general", "Unable to read web file: " + path);
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

void report(IntakeCall& call, WebMessage& msg, const RecipientOutcome& outcome) {
  if (const auto* row = std::get_if<AcceptedRow>(&outcome)) {
    monitor_status("good");
    log_general("Message accepted. Recipient: " + row->recipient + " Sender: " + msg.sender);
  } else if (const auto* refused = std::get_if<Refusal>(&outcome)) {
    reject(call, msg, *refused);
  } else {
    log_detail("Message to Pin number " + std::get<BlacklistedPin>(outcome).pin + " has been dropped due to black-list");
  }
}

// The file being worked and its record.
struct FileRecord {
  WorkedFiles& record;
  std::string key;
};

// Commits the file's record with its rows. False when another module recorded the file
// first: it reports the file, this one drops it.
bool store(IntakeCall& call, WebMessage& msg, FileRecord& file, std::vector<SqlStatement> statements,
           bool refused) {
  WorkedFileRow row{file.key, text::decode_bytes(msg.file_name), refused,
                    refused ? claim_bad_copy_path(msg, call.ctx.registry) : "", file.record.current_run_name()};
  if (file.record.store(std::move(statements), row)) return true;
  log_detail("The web file was worked already and is not worked again: " + path_of(call, msg));
  return false;
}

// The rows and the record are committed before anything is reported, so that a failure
// leaves neither rows nor notifications behind and the file can be worked again from the
// start.
void resolve_and_store(IntakeCall& call, WebMessage& msg, FileRecord& file) {
  ResolutionContext resolution{call.ctx.db, call.ctx.policy, call.ctx.recipients, call.ctx.blacklist, call.query, call.rows};
  std::vector<RecipientOutcome> outcomes = resolve_recipients(resolution, msg);
  std::vector<SqlStatement> statements;
  // The id is taken first, so that the rows after it read its new value.
  if (!msg.id_with_rows.empty())
    statements.emplace_back(call.ctx.db.SqlDialect().counter_advance(call.ctx.db.Counter().record_id));
  bool refused = false;
  for (RecipientOutcome& outcome : outcomes) {
    // The statements are not needed for the reports after the commit.
    if (auto* row = std::get_if<AcceptedRow>(&outcome)) statements.push_back(std::move(row->statement));
    refused = refused || std::holds_alternative<Refusal>(outcome);
  }
  if (!store(call, msg, file, std::move(statements), refused)) return;
  for (const RecipientOutcome& outcome : outcomes) report(call, msg, outcome);
}

void work_message(IntakeCall& call, WebMessage& msg, FileRecord& file) {
  run_raw_interface_filter(call.interface_settings, call.filter, msg);
  if (msg.filter_aborted) {
    if (store(call, msg, file, {}, false)) log_detail("Filter requested abort");
    return;
  }
  if (const std::optional<Refusal> invalid = parse_and_validate(call, msg)) {
    if (store(call, msg, file, {}, true)) reject(call, msg, *invalid);
    return;
  }
  run_interface_filter(call.interface_settings, call.filter, msg);
  if (msg.filter_aborted) {
    if (store(call, msg, file, {}, false)) log_detail("Filter requested abort");
    return;
  }
  resolve_and_store(call, msg, file);
}

// A refused file whose bad copy could not be made stays until the copy exists.
void keep_for_copy(IntakeCall& call, const platform::FolderEntry& entry, const WebMessage& msg) {
  auto stamp = entry.current_stamp();
  if (!stamp) return;
  call.ctx.leftover_files.remember_pending_copy(call.folder, {msg.file_name, *stamp, msg.bad_copy_path, msg.cut});
  log_detail("The web file stays in the folder until its bad copy can be made: " + path_of(call, msg));
}

void finish_file(IntakeCall& call, const platform::FolderEntry& entry, const WebMessage& msg) {
  const std::string path = path_of(call, msg);
  if (msg.bad_copy_pending) {
    keep_for_copy(call, entry, msg);
  } else if (!delete_with_retries(entry, 3, 0.5)) {
    log_detail("Error: Unable to delete web file");
    if (call.ctx.leftover_files.remember(call.folder, msg.file_name))
      log_detail("The web file is not worked again while it stays as it is: " + path);
  }
  log_detail("Completed working on message: " + msg.file_name);
}

// A file that could not be read may still hold a message: it is kept, not deleted.
void leave_unread(IntakeCall& call, const WebMessage& msg) {
  if (call.ctx.leftover_files.remember(call.folder, msg.file_name))
    log_detail("The unreadable web file is left in the folder and not tried again while it stays as it is: " +
               path_of(call, msg));
}

// A file recorded as worked gets no new rows and no reports: its bad copy is made where it
// is missing, then it is deleted (or left, never to be worked again).
void finish_recorded(IntakeCall& call, const platform::FolderEntry& entry, WebMessage& msg, const WorkedEntry& found) {
  log_detail("The web file was worked already and is not worked again: " + path_of(call, msg));
  if (found.refused && !found.bad_copy.empty() && !platform::stamp_entry(found.bad_copy)) {
    msg.bad_copy_path = found.bad_copy;
    if (save_bad_copy(msg)) log_detail("Bad copy made: " + found.bad_copy);
    else log_detail("Unable to copy web file to bad folder.");
  }
  finish_file(call, entry, msg);
}

void leave_busy(IntakeCall& call, const std::string& name) {
  if (call.ctx.writers.first_report(name)) log_detail("Web file still open by its writer, left for a later poll: " + name);
}

}  // namespace

void leave_non_regular_entry(const std::string& folder, const std::string& name, LeftoverFiles& leftovers) {
  if (leftovers.remember(folder, name)) log_general("Not a regular file, left alone: " + folder + name);
}

void process_message_file(IntakeCall& call, const std::string& name) {
  WebMessage msg;
  msg.file_name = name;
  const platform::FolderEntry entry = platform::FolderEntry::open(path_of(call, msg));
  using Status = platform::FolderEntry::Status;
  if (entry.status() == Status::Gone) return;
  if (entry.status() == Status::NotRegular) return leave_non_regular_entry(call.folder, name, call.ctx.leftover_files);
  if (!writer_finished(call, entry, name)) return leave_busy(call, name);
  call.ctx.writers.forget(name);
  log_detail("Working on message: " + name);
  if (!read_message(call, entry, msg)) return leave_unread(call, msg);
  WorkedFiles record(call.ctx.db, call.ctx.policy, call.ctx.leftover_files.worked_state(), call.ctx.machine_name);
  call.ctx.policy.with_retry(kIntakeProcedure, [&] { record.prepare(); });
  FileRecord file{record, FileIdentity(name, entry.stamp(), msg.bytes)};
  if (record.enabled()) {
    if (auto found = call.ctx.policy.with_retry(kIntakeProcedure, [&] { return record.Find(file.key); }))
      return finish_recorded(call, entry, msg, *found);
  }
  work_message(call, msg, file);
  finish_file(call, entry, msg);
}

}  // namespace dexweb
