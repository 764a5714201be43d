#pragma once
// Who receives a valid web message: its account itself, the users in its recipient list,
// or, for an ad-hoc account, the PINs typed by the sender less the blacklisted ones. The
// result is a plan in the order of the list; nothing is written, logged or notified here.

#include <string>
#include <variant>
#include <vector>

#include "intake/refusals.h"
#include "intake/message_rows.h"
#include "intake/web_message.h"

namespace dexweb {

class BlackList;
class DBObject;
class ErrorPolicy;
class QueryObject;
class RecipientList;

// A row to insert, and the recipient named when it is logged as accepted.
struct AcceptedRow {
  SqlStatement statement;
  std::string recipient;
};
// A PIN left out because of the blacklist.
struct BlacklistedPin {
  std::string pin;
};
using RecipientOutcome = std::variant<AcceptedRow, Refusal, BlacklistedPin>;

struct ResolutionContext {
  DBObject& db;
  ErrorPolicy& policy;
  RecipientList& recipients;
  const BlackList& blacklist;
  QueryObject& query;
  const RowSource& rows;
};

// Takes msg.transaction_id once the account passed its checks, and sets msg.any_accepted.
std::vector<RecipientOutcome> resolve_recipients(ResolutionContext& ctx, WebMessage& msg);

}  // namespace dexweb
