#include "notify/notifications.h"

#include <algorithm>
#include <optional>

#include "data/db_object.h"
#include "data/dialect.h"
#include "data/sql_text.h"
#include "logging/error_policy.h"
#include "notify/internal/notification_parts.h"
#include "notify/template_expansion.h"
#include "platform/files.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::string_view kSeparators = ",\r\n";
constexpr std::string_view kSenderItem = "%Sender%";
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

std::size_t next_separator(std::string_view text, std::size_t from) {
  std::size_t end = text.find_first_of(kSeparators, from);
  return end == std::string_view::npos ? text.size() : end;
}

// One item starting at pos (leading blanks already skipped); pos moves to its separator.
std::string read_item(std::string_view text, std::size_t& pos) {
  if (text[pos] != '"') {
    std::size_t end = next_separator(text, pos);
    std::string item = text::rtrim(text.substr(pos, end - pos));
    pos = end;
    return item;
  }
  std::size_t close = text.find('"', pos + 1);
  if (close == std::string_view::npos) close = text.size();
  std::string item(text.substr(pos + 1, close - pos - 1));
  pos = next_separator(text, std::min(close + 1, text.size()));
  return item;
}

// The first element of a sender field that names several: a notice goes to one address at
// most, so that the public form is no mail relay.
std::string_view first_sender(std::string_view sender) {
  constexpr std::string_view kListSeparators = ",; \t";
  const std::size_t start = sender.find_first_not_of(kListSeparators);
  if (start == std::string_view::npos) return {};
  const std::size_t end = sender.find_first_of(kListSeparators, start);
  return sender.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

}  // namespace

std::vector<std::string> parse_notify_list(std::string_view text) {
  std::vector<std::string> items;
  std::size_t pos = 0;
  while (pos < text.size()) {
    pos = std::min(text.find_first_not_of(' ', pos), text.size());
    if (pos == text.size()) break;
    std::string item = read_item(text, pos);
    if (!item.empty()) items.push_back(std::move(item));
    ++pos;  // past the separator; the empty item between CR and LF is left out
  }
  return items;
}

bool is_mail_address(std::string_view text) {
  std::string t = text::trim(text);
  if (text::length(t) < 6) return false;
  std::size_t at = t.find('@');
  if (at == std::string::npos || at == 0) return false;
  return t.find('.', at + 1) != std::string::npos;
}

std::string notify_address(std::string_view item, std::string_view sender, std::string_view domain) {
  if (item != kSenderItem) return header_value(item);
  std::string address = text::trim(header_value(first_sender(sender)));
  // Without a sender there is nobody to tell: "@domain" would only bounce.
  if (address.empty()) return {};
  if (!is_mail_address(address)) address += "@" + std::string(domain);
  return address;
}

std::string user_row_query(const Dialect& dialect, const std::string& recipient) {
  return dialect.select_top1("[full_name], [extra1], [extra2], [extra3], [extra4] FROM [users]" +
                             dialect.table_hint() + " WHERE (" +
                             dialect.equals_ignoring_case("[user]", sql_string(recipient)) + ")");
}

std::optional<UserColumns> find_user_row(DBObject& db, const std::string& recipient) {
  // Opened first, so that the dialect and table hint are those of the open database.
  db.OpenDb(1);
  auto rs = db.OpenRecordset(user_row_query(db.SqlDialect(), recipient));
  if (!rs || rs->Eof()) return std::nullopt;
  return UserColumns{rs->AsText("full_name"), rs->AsText("extra1"), rs->AsText("extra2"), rs->AsText("extra3"),
                     rs->AsText("extra4")};
}

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
