#include "notify/notifications.h"

#include <optional>

#include "logging/error_policy.h"
#include "notify/internal/mail_file.h"
#include "notify/internal/user_row.h"
#include "notify/notify_list.h"
#include "notify/template_expansion.h"
#include "platform/files.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::string_view kProcedure = "Procedure: SendNotifications";
// A template character takes at most four bytes.
constexpr std::size_t kTemplateMaxBytes = kTemplateMaxChars * 4;

struct NotifyFiles {
  std::string list;
  std::string mail_template;
};

// The pair of files for the outcome, when both exist.
std::optional<NotifyFiles> notify_files(const std::string& folder, bool failed) {
  const std::string prefix = failed ? "failure" : "success";
  NotifyFiles files{platform::resolve_name_nocase(folder, prefix + "notifylist.txt"),
                    platform::resolve_name_nocase(folder, prefix + ".mtp")};
  for (const std::string* path : {&files.list, &files.mail_template}) {
    auto info = platform::stat_path(*path);
    if (!info || info->is_dir) return std::nullopt;
  }
  return files;
}

// A template that cannot be read counts as empty. One saved with LF line ends (as editors on
// Linux save it) is read as if saved with CR LF, so that its empty line still ends the
// header block and the mail file's lines all end alike.
std::string read_template(const std::string& path) {
  try {
    return text::with_crlf(text::left(text::decode_bytes(platform::read_file(path, kTemplateMaxBytes)), kTemplateMaxChars));
  } catch (const RuntimeError&) {
    return {};
  }
}

std::vector<std::string> read_list(const std::string& path) {
  return parse_notify_list(text::decode_bytes(platform::read_file(path)));
}

}  // namespace

void send_notifications(NotifyContext& ctx, const std::string& message, const std::string& sender,
                        const std::string& recipient, bool failed, const std::string& error_message) {
  ctx.policy.start_afresh();
  if (!ctx.settings.dexmail_enabled) return;
  const auto files = notify_files(ctx.prog_dir, failed);
  if (!files) return;
  const std::string mail_template = read_template(files->mail_template);
  if (mail_template.empty()) return;

  NotificationFields fields{message, error_message, sender, recipient, std::nullopt};
  fields.user = ctx.policy.with_retry(kProcedure, [&] { return find_user_row(ctx.db, recipient); });
  const ExpandedTemplate expanded = expand_template(mail_template, fields);

  const auto items = ctx.policy.with_retry(kProcedure, [&] { return read_list(files->list); });
  for (const std::string& item : items) {
    const std::string address = notify_address(item, sender, ctx.settings.domain);
    if (address.empty()) continue;
    const std::string text = expanded.for_address(address);
    ctx.policy.with_retry(kProcedure, [&] { write_mail_file(ctx.settings, address, text); });
  }
}

}  // namespace dexweb
