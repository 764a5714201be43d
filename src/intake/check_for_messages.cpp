#include "intake/check_for_messages.h"

#include <chrono>

#include "data/templates_table.h"
#include "intake/claim_folders.h"
#include "intake/watched_folder.h"
#include "intake/leftover_files.h"
#include "intake/refusals.h"
#include "intake/internal/intake_call.h"
#include "intake/internal/intake_log.h"
#include "logging/error_policy.h"
#include "platform/clock.h"
#include "platform/folder.h"

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
