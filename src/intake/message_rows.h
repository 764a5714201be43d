#pragma once
// The rows of the gateway's messages table that an accepted web message becomes: one per
// accepted recipient, all of one message written in one transaction.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "data/sql_text.h"
#include "intake/web_message.h"

namespace dexweb {

class DBObject;
class Dialect;
class QueryObject;

// Who a row is for.
struct RowRecipient {
  std::string user;
  std::string pin;
  std::string recipient;  // original_recipient and last_recipient; also the name logged
};
// A user of the gateway named in the message (or its account itself).
RowRecipient account_recipient(const std::string& item);
// A PIN typed by the sender for the ad-hoc account user.
RowRecipient ad_hoc_recipient(const std::string& user, const std::string& pin);

// What every row of the run shares.
struct RowSource {
  std::string creator_name;     // "DexWeb"
  std::string creator_machine;  // cut to 40 characters here
  std::string retry_interval;   // seconds, as decimal text; last_try lies that far back plus 1 s
};

// The INSERT of the 28 columns of one row in the dialect given, built with q (cleared
// first), its texts and whole numbers as bound values.
SqlStatement build_message_row(const Dialect& dialect, QueryObject& q, const WebMessage& msg, const RowRecipient& to,
                              const RowSource& source);

// On PostgreSQL, the file's record (its INSERT), the id's draw (when statements begin with
// the dialect's counter_advance) and the rows (INSERTs that differ in their bound values
// only) as one statement, which answers one row with the column [worked]: 1 when the record
// was new and everything was written with it, in its own transaction; 0 when the file was
// recorded already, and then nothing was written and no id drawn. The rows keep their order,
// columns and texts; a value they share is sent once, the others as one array each.
// nullopt on other engines, and for statements of another shape.
std::optional<SqlStatement> fold_message_write(const Dialect& dialect, int counter_record, const SqlStatement& record,
                                               std::span<const SqlStatement> statements);

// Runs the statements in one transaction (the caller puts the file's record of worked files
// among them, so that it commits with the rows). On failure nothing of them stays and the
// data layer's error (data/db_object.h) is raised; running the call again repeats no row.
void write_message_rows(DBObject& db, const std::vector<SqlStatement>& statements);

}  // namespace dexweb
