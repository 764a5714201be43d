#include "intake/filter_program.h"

#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "util/runtime_error.h"

namespace dexweb {
namespace {

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

void run_filter_program(const std::string& program, const FilterCall& call, std::chrono::seconds limit) {
  using End = platform::ProgramRun::End;
  platform::ProgramRun run = platform::run_and_wait(program_arguments(program, call), limit);
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

}  // namespace dexweb
