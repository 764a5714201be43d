#include "intake/internal/filters.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <string_view>
#include <vector>

#include "data/unique_ids.h"
#include "intake/internal/intake_log.h"
#include "logging/log_event.h"
#include "platform/dynamic_library.h"
#include "platform/event_loop.h"
#include "platform/folder.h"
#include "platform/files.h"
#include "platform/private_files.h"
#include "platform/process.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::size_t kSettingsOffset = 0;
constexpr std::size_t kDebugOffset = 200;
constexpr std::size_t kAppendOffset = 400;
constexpr std::size_t kFileOffset = 401;
constexpr std::size_t kPathSize = 200;

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The longest start of text, in bytes, that fits max_bytes without splitting a character.
std::string_view utf8_prefix(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  std::size_t cut = max_bytes;
  while (cut > 0 && is_continuation(static_cast<unsigned char>(text[cut]))) --cut;
  return text.substr(0, cut);
}

void write_field(unsigned char* field, std::size_t size, std::string_view text) {
  std::string_view fitting = utf8_prefix(text, size - 1);
  std::copy(fitting.begin(), fitting.end(), field);
  field[fitting.size()] = 0;
}

}  // namespace

FilterBuffer::FilterBuffer(const FilterCall& call) {
  write_field(&bytes_[kSettingsOffset], kPathSize, call.settings_file);
  const DebugTarget debug = call.debug.value_or(DebugTarget{});
  write_field(&bytes_[kDebugOffset], kPathSize, debug.path);
  bytes_[kAppendOffset] = debug.append ? 1 : 0;
  write_field(&bytes_[kFileOffset], kPathSize, call.file_path);
  write_field(&bytes_[kTextOffset], kTextSize, call.text);
}

std::string FilterBuffer::take_answer() {
  std::fill(bytes_.begin() + kTextOffset + kTextSize, bytes_.end(), 0);
  const auto* text = &bytes_[kTextOffset];
  const auto* end = std::find(text, text + kTextSize, 0);
  return text::decode_bytes(
      std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(end - text)));
}

namespace {

// A debug file setting: " /append" (any case) after the path asks for appending, and the
// path is what stands before it. The blank is required, so that a folder named "append"
// in a path is not taken for the option.
DebugTarget debug_target(std::string_view setting) {
  std::size_t option = text::ifind(setting, " /append");
  if (option == std::string_view::npos) return {std::string(setting), false};
  return {std::string(setting.substr(0, option)), true};
}

// The filter library: loads it, calls RunFilter with the call's buffer and returns the text
// the filter left in the text field; the library is unloaded again. The file at
// library_path now is what runs, also when a copy replaced since is still loaded; the
// private temp_folder holds the link it is loaded through for that. RuntimeError when the
// library cannot be loaded or exports no RunFilter.
std::string call_run_filter(const std::string& library_path, const std::string& temp_folder, const FilterCall& call) {
  platform::DynamicLibrary library(library_path, temp_folder);
  auto* run_filter = library.function<void(unsigned char*)>("RunFilter");
  FilterBuffer buffer(call);
  run_filter(buffer.data());
  return buffer.take_answer();
}

std::vector<std::string> program_arguments(const std::string& program, const FilterCall& call) {
  std::vector<std::string> argv = {program, "settingsfile=" + call.settings_file};
  if (call.debug) {
    argv.push_back("debugfile=" + call.debug->path);
    if (call.debug->append) argv.push_back("debugappend=true");
  }
  argv.push_back(call.file_path);
  return argv;
}

// The filter program: started directly (no shell) with one argument per item,
//   settingsfile=PATH [debugfile=PATH [debugappend=true]] FILE
// and waited for at most limit. It changes or deletes FILE in place; its exit status is not
// part of the contract. RuntimeError when it could not be started, was ended by a signal,
// or had to be stopped at the limit.
void run_filter_program(const std::string& program, const FilterCall& call, std::chrono::seconds limit) {
  using End = platform::ProgramRun::End;
  // Nothing flushes the log while the program runs.
  flush_log_queues();
  platform::ProgramRun run = platform::run_and_wait(program_arguments(program, call), limit);
  // A stop asked for meanwhile gave the program the rest of its time, no more: the message
  // is left, unfiltered, for the next run.
  if (platform::stop_requested()) throw platform::StopRequested{};
  switch (run.end) {
    case End::Exited: return;
    case End::NotStarted:
      if (run.code != 0) platform::raise_file_error(run.code, "starting " + program);
      throw RuntimeError(err::kInvalidProcedureCall, program + " could not be started");
    case End::Signalled:
      throw RuntimeError(err::kInvalidProcedureCall, program + " was ended by signal " + std::to_string(run.code));
    case End::TimedOut:
      throw RuntimeError(err::kInvalidProcedureCall,
                         program + " did not end within " + std::to_string(limit.count()) + " seconds and was stopped");
  }
}

// temp_folder + unique_name() + ".txt", in the module's private temporary folder; the name
// is empty when there is no such folder (the filter step then fails). The file is removed
// when the object goes, whatever the filter did with it.
class FilterTempFile {
 public:
  explicit FilterTempFile(const std::string& temp_folder)
      : path_(temp_folder.empty() ? std::string() : temp_folder + unique_name() + ".txt") {}
  ~FilterTempFile() {
    try {
      if (!path_.empty()) platform::remove_file(path_);
    } catch (const std::exception&) {
      // A destructor may not throw, and a leftover file in the temporary folder is harmless.
    }
  }
  FilterTempFile(const FilterTempFile&) = delete;
  FilterTempFile& operator=(const FilterTempFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The interface filter's text: the recipient field, CR LF, the frm field, CR LF, the
// message; and the reading of the filter's answer in the same shape.

constexpr std::string_view kCrLf = "\r\n";

struct SplitLine {
  std::string first;
  std::string rest;
};

SplitLine split_at(std::string_view text, std::size_t at, std::size_t width) {
  return {std::string(text.substr(0, at)), std::string(text.substr(at + width))};
}

// Splits at the first line break: a CR LF that is neither after the first CR nor after the
// first LF, else a CR before the first LF, else an LF. Without a line break both parts are
// empty.
SplitLine split_first_line(std::string_view text) {
  const std::size_t npos = std::string_view::npos;
  std::size_t crlf = text.find(kCrLf), cr = text.find('\r'), lf = text.find('\n');
  if (crlf != npos && crlf <= cr && crlf < lf) return split_at(text, crlf, kCrLf.size());
  if (cr != npos && cr < lf) return split_at(text, cr, 1);
  if (lf != npos) return split_at(text, lf, 1);
  return {};
}

std::string interface_filter_text(const WebMessage& msg) {
  return msg.user + std::string(kCrLf) + msg.frm + std::string(kCrLf) + msg.message;
}

// Replaces the recipient field, frm and message with the answer's three parts.
// original_recipient and sender keep the values they had before the filter.
void apply_interface_answer(WebMessage& msg, std::string_view answer) {
  SplitLine recipient = split_first_line(answer);
  SplitLine sender = split_first_line(recipient.rest);
  msg.user = std::move(recipient.first);
  msg.frm = std::move(sender.first);
  msg.message = std::move(sender.rest);
}

constexpr const char* kLibraryName = "vtfilter.so";
constexpr const char* kProgramName = "vtfilter";
constexpr std::size_t kLongTextWarning = 15300;

// What differs between the raw filter and the interface filter.
struct FilterKind {
  TextSetting settings_key;
  TextSetting debug_key;
  std::string_view applying;  // the log line's lead-in
  std::string_view title;     // as the failure lines name the filter
};

constexpr FilterKind kRawFilter{settings_key::kRawInterfaceFilter, settings_key::kRawInterfaceFilterDebugFile,
                                "Applying raw interface filter: ", "Raw Interface Filter"};
constexpr FilterKind kInterfaceFilter{settings_key::kInterfaceFilter, settings_key::kInterfaceFilterDebugFile,
                                      "Applying filter: ", "Interface Filter"};

struct Outcome {
  enum class Kind { Skipped, Failed, Aborted, Answered };
  Kind kind;
  std::string answer;
};

// A message left unfiltered is said on standard error too (warn_detail): a filter that never
// runs would otherwise go unnoticed outside the log file.

// Runs one filter step under its error handler; false, after the failure lines, when it
// raised an error.
template <typename Step>
bool run_step(const FilterKind& kind, Step&& step) {
  std::string description;
  try {
    step();
    return true;
  } catch (const RuntimeError& e) {
    description = e.description();
  } catch (const std::exception& e) {
    description = e.what();
  }
  warn_detail("Unable to apply " + std::string(kind.title) + ": " + description);
  warn_detail("Error running filter - leaving the message unchanged");
  return false;
}

// The component at Prog_Dir + name, or nullopt after the "not found" line.
std::optional<std::string> component(const FilterKind& kind, const FilterContext& ctx, const char* name) {
  std::string path = ctx.prog_dir + name;
  if (is_file(path)) return path;
  warn_detail("Unable to apply " + std::string(kind.title) + " - " + name + " not found");
  return std::nullopt;
}

// The answer a filter left in the file it worked on; deleting or emptying it aborts.
Outcome answer_in_file(const std::string& path) {
  std::string answer;
  if (!is_file(path) || !read_whole_file(path, answer) || answer.empty()) return {Outcome::Kind::Aborted, {}};
  return {Outcome::Kind::Answered, std::move(answer)};
}

// The file concerned is always a new name in the module's private folder.
void write_file_concerned(const std::optional<std::string>& content, const std::string& path) {
  if (!content) return;
  platform::create_exclusive(path, *content);
}

Outcome through_library_text(const FilterKind& kind, const std::string& library, const FilterContext& ctx,
                             FilterCall call) {
  if (text::length(call.text) > kLongTextWarning || call.text.size() >= FilterBuffer::kTextSize)
    warn_detail("Warning: filter input text > 15300 characters - truncated");
  std::string answer;
  if (!run_step(kind, [&] { answer = call_run_filter(library, ctx.temp_folder, call); })) return {Outcome::Kind::Failed, {}};
  if (answer.empty()) return {Outcome::Kind::Aborted, {}};
  return {Outcome::Kind::Answered, std::move(answer)};
}

// file_content, when given, is written to the file concerned before a filter that works on
// the file runs.
Outcome run_filter(const FilterKind& kind, const InterfaceSettings& settings, const FilterContext& ctx, FilterCall call,
                   const std::optional<std::string>& file_content) {
  if (settings.is_set(kind.debug_key)) call.debug = debug_target(settings.value(kind.debug_key));
  if (settings.value(settings_key::kUseFilterDll)) {
    std::optional<std::string> library = component(kind, ctx, kLibraryName);
    if (!library) return {Outcome::Kind::Skipped, {}};
    if (!settings.value(settings_key::kUseFilterDllFile)) return through_library_text(kind, *library, ctx, std::move(call));
    call.text.clear();
    if (!run_step(kind, [&] {
          write_file_concerned(file_content, call.file_path);
          call_run_filter(*library, ctx.temp_folder, call);
        }))
      return {Outcome::Kind::Failed, {}};
    return answer_in_file(call.file_path);
  }
  std::optional<std::string> program = component(kind, ctx, kProgramName);
  if (!program) return {Outcome::Kind::Skipped, {}};
  if (!run_step(kind, [&] {
        write_file_concerned(file_content, call.file_path);
        run_filter_program(*program, call, ctx.ProgramTimeLimit);
      }))
    return {Outcome::Kind::Failed, {}};
  return answer_in_file(call.file_path);
}

// The filter's settings file when the filter is configured and its file exists.
std::optional<std::string> settings_file(const FilterKind& kind, const InterfaceSettings& settings) {
  if (!settings.is_set(kind.settings_key)) return std::nullopt;
  const std::string& file = settings.value(kind.settings_key);
  log_detail(std::string(kind.applying) + file);
  if (is_file(file)) return file;
  warn_detail("Unable to apply " + std::string(kind.title) + " - " + file + " not found");
  return std::nullopt;
}

void abort_message(WebMessage& msg) {
  msg.filter_aborted = true;
  log_detail("Message aborted - the filter has deleted the original message");
}

}  // namespace

void run_raw_interface_filter(const InterfaceSettings& settings, const FilterContext& ctx, WebMessage& msg) {
  std::optional<std::string> file = settings_file(kRawFilter, settings);
  if (!file) return;
  // The filter works on a private copy of the bytes read, never on the web file itself.
  FilterTempFile temp(ctx.temp_folder);
  FilterCall call{*file, std::nullopt, temp.path(), msg.original_content};
  Outcome outcome = run_filter(kRawFilter, settings, ctx, std::move(call), msg.bytes);
  if (outcome.kind == Outcome::Kind::Answered) msg.content = std::move(outcome.answer);
  if (outcome.kind == Outcome::Kind::Aborted) abort_message(msg);
}

void run_interface_filter(const InterfaceSettings& settings, const FilterContext& ctx, WebMessage& msg) {
  std::optional<std::string> file = settings_file(kInterfaceFilter, settings);
  if (!file) return;
  std::string text = interface_filter_text(msg);
  FilterTempFile temp(ctx.temp_folder);
  FilterCall call{*file, std::nullopt, temp.path(), text};
  Outcome outcome = run_filter(kInterfaceFilter, settings, ctx, std::move(call), text + "\r\n");
  if (outcome.kind == Outcome::Kind::Answered) apply_interface_answer(msg, outcome.answer);
  if (outcome.kind == Outcome::Kind::Aborted) abort_message(msg);
}

}  // namespace dexweb
