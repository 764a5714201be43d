#pragma once
// The rows of a new gateway home's database.

#include <string>

namespace dexweb {
class DBObject;
}

namespace dexweb::ctl {

// The accounts that a new home has, one of each kind the intake tells apart.
struct SeedAccount {
  const char* user;
  const char* full_name;
  bool ad_hoc, multi_page, web_service, group_list;
};
inline constexpr SeedAccount kSeedAccounts[] = {
    {"sales", "Sales desk", false, false, true, false},
    {"bob", "Bob", false, false, true, false},
    {"amy", "Amy", false, false, true, false},
    {"joe", "Joe", false, false, true, false},
    {"staff", "Staff group", false, false, true, true},
    {"adhoc", "Ad-hoc pagers", true, false, true, false},
    {"noweb", "Not reachable from the web", false, false, false, false},
};

// The settings row (watched folder web_folder, dbversion 1100, poll every 2 s, log level 3,
// log to disk), the control row (running), the counters row and, with accounts, the
// kSeedAccounts.
void seed_home_database(DBObject& db, const std::string& web_folder, bool accounts);

}  // namespace dexweb::ctl
