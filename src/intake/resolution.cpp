#include "intake/resolution.h"

#include "data/unique_ids.h"
#include "intake/blacklist.h"
#include "intake/recipient_items.h"
#include "intake/recipient_list.h"

namespace dexweb {
namespace {

using Outcomes = std::vector<RecipientOutcome>;

void accept(ResolutionContext& ctx, WebMessage& msg, const RowRecipient& to, Outcomes& out) {
  out.push_back(AcceptedRow{BuildMessageRow(ctx.query, msg, to, ctx.rows), to.recipient});
  msg.AnyAccepted = true;
}

void resolve_account(ResolutionContext& ctx, const clsWebRecipient& owner, WebMessage& msg, Outcomes& out) {
  // A multi-page or group account is only an address book: it gets no row of its own.
  const std::string list = owner.multi_page || owner.group_list ? msg.subject : msg.user + " " + msg.subject;
  for (const std::string& item : SplitRecipientList(list, kAccountItemLimit)) {
    auto r = ctx.recipients.FindWebRecipient(ctx.db, item);
    if (!r) out.push_back(refusal::ItemNotFound(item));
    else if (!r->web_service || r->ad_hoc || r->multi_page) out.push_back(refusal::ItemNotValid(item));
    else accept(ctx, msg, AccountRecipient(item), out);
  }
  if (!msg.AnyAccepted) out.push_back(refusal::NoValidRecipients(msg));
}

void resolve_ad_hoc(ResolutionContext& ctx, WebMessage& msg, Outcomes& out) {
  for (const std::string& item : SplitRecipientList(msg.subject, kAdHocItemLimit)) {
    if (ctx.blacklist.InBlackList(item)) {
      out.push_back(BlacklistedPin{item});
      continue;
    }
    auto r = ctx.recipients.FindWebRecipient(ctx.db, item);
    if (!r) accept(ctx, msg, AdHocRecipient(msg.user, item), out);
    else if (r->web_service) accept(ctx, msg, AccountRecipient(item), out);
    else out.push_back(refusal::AdHocItemWebServiceOff(item));
  }
  if (!msg.AnyAccepted) out.push_back(refusal::NoValidAdHocPins(msg));
}

}  // namespace

std::vector<RecipientOutcome> ResolveRecipients(ResolutionContext& ctx, WebMessage& msg) {
  Outcomes out;
  auto owner = ctx.recipients.FindWebRecipient(ctx.db, msg.user);
  if (!owner) {
    out.push_back(refusal::OwnerNotFound(msg));
    return out;
  }
  if (!owner->web_service) {
    out.push_back(refusal::OwnerWebServiceOff(msg));
    return out;
  }
  msg.TransactionId = get_unique(ctx.db);
  msg.AnyAccepted = false;
  if (owner->ad_hoc) resolve_ad_hoc(ctx, msg, out);
  else resolve_account(ctx, *owner, msg, out);
  return out;
}

}  // namespace dexweb
