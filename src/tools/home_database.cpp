#include "tools/home_database.h"

#include <cstdint>

#include "data/db_object.h"
#include "data/sql_text.h"

namespace dexweb::ctl {
namespace {

void insert(DBObject& db, const char* table, const std::vector<Variant>& fields) {
  QueryObject q;
  db.Execute(q.Build(db.SqlDialect(), QueryObject::kInsert, table, fields));
}

}  // namespace

void seed_home_database(DBObject& db, const std::string& web_folder, bool accounts) {
  using S = std::string;
  const std::int32_t one = 1;
  insert(db, "settings",
         {S("record_id"), one, S("dbversion"), std::int32_t{1100}, S("dexwebcgi_path"), web_folder,
          S("dexweb_poll"), std::int32_t{2}, S("log_level"), std::int32_t{3}, S("log_to_disk"), true,
          S("retry_interval"), std::int32_t{60}});
  insert(db, "control",
         {S("record_id"), one, S("dexweb_pause"), false, S("dexweb_run"), true, S("dexweb_state"), false,
          S("sched_state"), false});
  insert(db, "counters", {S("record_id"), one, S("unique_id"), std::int32_t{0}});
  if (!accounts) return;
  for (const SeedAccount& a : kSeedAccounts)
    insert(db, "users",
           {S("user"), S(a.user), S("full_name"), S(a.full_name), S("ad_hoc"), a.ad_hoc, S("multi_page"),
            a.multi_page, S("web_service"), a.web_service, S("group_list"), a.group_list, S("display_group"),
            false});
}

}  // namespace dexweb::ctl
