#include "intake/check_for_messages.h"

#include <chrono>

#include "data/templates_table.h"
#include "intake/folder_scan.h"
#include "intake/bad_copies.h"
#include "intake/internal/intake_call.h"
#include "intake/internal/intake_log.h"
#include "logging/error_policy.h"
#include "platform/clock.h"
#include "platform/file_helpers.h"

namespace dexweb {
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
      notify{context.db, context.settings, context.policy, context.registry.Prog_Dir},
      rows{context.interface_name, context.machine_name, context.settings.retry_interval_text} {
  filter.prog_dir = context.registry.Prog_Dir;
  filter.temp_folder = context.temp_folder;
  lines.SetCaseSensitive(false);
  lines.SetGrowSize(50);
}

bool check_for_messages(IntakeContext& ctx) {
  ctx.policy.start_afresh();
  IntakeCall call(ctx);
  if (!is_dir(call.folder)) {
    if (ctx.first_poll) log_general("Unable to access folder: " + call.folder);
    return false;
  }
  retry_pending_copies(call.folder, ctx.leftover_files);
  ctx.policy.with_retry(kIntakeProcedure, [&] { list_message_files(call.folder, ctx.leftover_files, ctx.writers, call.files); });
  if (call.files.Count() == 0) return false;
  call.interface_settings = ctx.policy.with_retry(kIntakeProcedure, [&] { return effective_interface_settings(ctx.db); });
  work_listed_files(call);
  return true;
}

}  // namespace dexweb
