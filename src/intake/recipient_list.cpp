#include "intake/recipient_list.h"

#include "data/db_object.h"
#include "intake/internal/intake_log.h"
#include "logging/error_policy.h"
#include "util/text.h"

namespace dexweb {
namespace {

bool flag(const Recordset& rs, std::string_view column) { return !rs.IsNull(column) && rs.AsBool(column); }

}  // namespace

void RecipientList::ensure_loaded(DBObject& db, ErrorPolicy& policy) {
  if (!entries_.empty()) return;
  policy.start_afresh();
  policy.with_retry("Procedure: GetRecipientList", [&] { load(db); });
}

std::optional<WebRecipient> RecipientList::find_web_recipient(DBObject& db, ErrorPolicy& policy,
                                                             std::string_view user) {
  ensure_loaded(db, policy);
  auto found = entries_.find(text::to_lower(user));
  if (found == entries_.end()) return std::nullopt;
  return found->second;
}

void RecipientList::load(DBObject& db) {
  entries_.clear();
  auto rs = db.OpenRecordset(
      "SELECT [user], [ad_hoc], [multi_page], [web_service], [group_list], [display_group] FROM [users]" +
          db.SqlDialect().table_hint(),
      {.timeout = db.Settings().long_timeout});
  for (; !rs->Eof(); rs->MoveNext()) {
    if (rs->IsNull("display_group") || rs->AsBool("display_group")) continue;
    const std::string name = rs->AsText("user");
    WebRecipient r{flag(*rs, "ad_hoc"), flag(*rs, "multi_page"), flag(*rs, "web_service"), flag(*rs, "group_list")};
    if (!entries_.emplace(text::to_lower(name), r).second)
      log_debug("User name ignored, another row has it in other case: " + name);
  }
  free_recordset(rs);
}

}  // namespace dexweb
