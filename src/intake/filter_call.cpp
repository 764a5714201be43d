#include "intake/internal/filter_call.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "data/unique_ids.h"
#include "logging/log_event.h"
#include "platform/dynamic_library.h"
#include "platform/event_loop.h"
#include "platform/files.h"
#include "platform/process.h"
#include "util/runtime_error.h"
#include "util/text.h"

namespace dexweb {

DebugTarget debug_target(std::string_view setting) {
  std::size_t option = text::ifind(setting, " /append");
  if (option == std::string_view::npos) return {std::string(setting), false};
  return {std::string(setting.substr(0, option)), true};
}

namespace {

constexpr std::size_t kSettingsOffset = 0;
constexpr std::size_t kDebugOffset = 200;
constexpr std::size_t kAppendOffset = 400;
constexpr std::size_t kFileOffset = 401;
constexpr std::size_t kPathSize = 200;

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

void write_field(unsigned char* field, std::size_t size, std::string_view text) {
  std::string_view fitting = utf8_prefix(text, size - 1);
  std::copy(fitting.begin(), fitting.end(), field);
  field[fitting.size()] = 0;
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

}  // namespace

std::string_view utf8_prefix(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  std::size_t cut = max_bytes;
  while (cut > 0 && is_continuation(static_cast<unsigned char>(text[cut]))) --cut;
  return text.substr(0, cut);
}

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

std::string call_run_filter(const std::string& library_path, const std::string& temp_folder, const FilterCall& call) {
  platform::DynamicLibrary library(library_path, temp_folder);
  auto* run_filter = library.function<void(unsigned char*)>("RunFilter");
  FilterBuffer buffer(call);
  run_filter(buffer.data());
  return buffer.take_answer();
}

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

FilterTempFile::FilterTempFile(const std::string& temp_folder)
    : path_(temp_folder.empty() ? std::string() : temp_folder + unique_name() + ".txt") {}

FilterTempFile::~FilterTempFile() {
  try {
    if (!path_.empty()) platform::remove_file(path_);
  } catch (const std::exception&) {
    // A destructor may not throw, and a leftover file in the temporary folder is harmless.
  }
}

}  // namespace dexweb
