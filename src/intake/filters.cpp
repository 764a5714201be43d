#include "intake/internal/filters.h"

#include <exception>
#include <optional>

#include "intake/internal/filter_call.h"
#include "intake/internal/filter_text.h"
#include "intake/internal/intake_log.h"
#include "logging/log_event.h"
#include "platform/files.h"
#include "platform/private_files.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {
namespace {

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
