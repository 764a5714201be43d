#include "intake/internal/resolution.h"

#include "data/db_object.h"
#include "intake/recipients.h"

namespace dexweb {
namespace {

using Outcomes = std::vector<RecipientOutcome>;

void accept(ResolutionContext& ctx, WebMessage& msg, const RowRecipient& to, Outcomes& out) {
  out.push_back(AcceptedRow{build_message_row(ctx.db.SqlDialect(), ctx.query, msg, to, ctx.rows), to.recipient});
  msg.any_accepted = true;
}

void resolve_account(ResolutionContext& ctx, const WebRecipient& owner, WebMessage& msg, Outcomes& out) {
  // A multi-page or group account is only an address book: it gets no row of its own.
  const std::string list = owner.multi_page || owner.group_list ? msg.subject : msg.user + " " + msg.subject;
  for (const std::string& item : split_recipient_list(list, kAccountItemLimit)) {
    auto r = ctx.recipients.find_web_recipient(ctx.db, ctx.policy, item);
    if (!r) out.push_back(refusal::item_not_found(item));
    else if (!r->web_service || r->ad_hoc || r->multi_page) out.push_back(refusal::item_not_valid(item));
    else accept(ctx, msg, account_recipient(item), out);
  }
  if (!msg.any_accepted) out.push_back(refusal::no_valid_recipients(msg));
}

void resolve_ad_hoc(ResolutionContext& ctx, WebMessage& msg, Outcomes& out) {
  for (const std::string& item : split_recipient_list(msg.subject, kAdHocItemLimit)) {
    if (ctx.blacklist.in_blacklist(item)) {
      out.push_back(BlacklistedPin{item});
      continue;
    }
    auto r = ctx.recipients.find_web_recipient(ctx.db, ctx.policy, item);
    if (!r) accept(ctx, msg, ad_hoc_recipient(msg.user, item), out);
    else if (r->web_service) accept(ctx, msg, account_recipient(item), out);
    else out.push_back(refusal::ad_hoc_item_web_service_off(item));
  }
  if (!msg.any_accepted) out.push_back(refusal::no_valid_ad_hoc_pins(msg));
}

}  // namespace

std::vector<RecipientOutcome> resolve_recipients(ResolutionContext& ctx, WebMessage& msg) {
  Outcomes out;
  auto owner = ctx.recipients.find_web_recipient(ctx.db, ctx.policy, msg.user);
  if (!owner) {
    out.push_back(refusal::owner_not_found(msg));
    return out;
  }
  if (!owner->web_service) {
    out.push_back(refusal::owner_web_service_off(msg));
    return out;
  }
  // The id is drawn inside the transaction that stores the rows, so that an id and its rows
  // commit together.
  msg.id_with_rows = ctx.db.SqlDialect().counter_value(ctx.db.Counter().record_id);
  msg.any_accepted = false;
  if (owner->ad_hoc) resolve_ad_hoc(ctx, msg, out);
  else resolve_account(ctx, *owner, msg, out);
  return out;
}

}  // namespace dexweb
