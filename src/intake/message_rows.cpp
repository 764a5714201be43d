#include "intake/message_rows.h"

#include <chrono>
#include <cstdint>

#include "data/db_object.h"
#include "data/sql_text.h"
#include "platform/clock.h"
#include "util/text.h"

namespace dexweb {
namespace {

constexpr std::int16_t kWebStation = 4;
constexpr std::size_t kMachineNameLimit = 40;

DateTime last_try(const std::string& retry_interval) {
  const auto seconds = text::parse_number(retry_interval).value_or(0);
  return platform::server_now() - std::chrono::milliseconds(text::round_half_even((seconds + 1) * 1000));
}

}  // namespace

RowRecipient account_recipient(const std::string& item) { return {item, "", item}; }

RowRecipient ad_hoc_recipient(const std::string& user, const std::string& pin) { return {user, pin, user + "-" + pin}; }

SqlStatement build_message_row(const Dialect& dialect, QueryObject& q, const WebMessage& msg, const RowRecipient& to,
                              const RowSource& source) {
  constexpr int kAsWritten = 1;
  const std::string now = db_now(dialect);
  const std::string none;
  const std::int16_t zero = 0;
  q.Clear();
  q.SetQueryType(QueryObject::kInsert);
  q.SetTableName("messages");
  q.Add("user", to.user);
  q.Add("pin", to.pin);
  q.Add("message", msg.message);
  q.Add("carrier", none);
  q.Add("date_time_requested", now, kAsWritten);
  q.Add("date_time_sent", now, kAsWritten);
  q.Add("scheduled", false);
  q.Add("sent", false);
  q.Add("ascii_file", none);
  q.Add("mail_file", none);
  q.Add("frm", msg.frm);
  q.Add("error", false);
  q.Add("lock", false);
  q.Add("surecast_index", zero);
  q.Add("repeat_interval", zero);
  q.Add("repeat_stop", now, kAsWritten);
  q.Add("station", kWebStation);
  q.Add("retries", zero);
  q.Add("last_try", last_try(source.retry_interval));
  if (!msg.id_with_rows.empty()) q.Add("transaction", msg.id_with_rows, kAsWritten);
  else q.Add("transaction", std::int32_t{msg.transaction_id});
  q.Add("creator_name", source.creator_name);
  q.Add("creator_machine", text::left(source.creator_machine, kMachineNameLimit));
  q.Add("original_recipient", to.recipient);
  q.Add("last_recipient", to.recipient);
  q.Add("server", none);
  q.Add("archived", false);
  q.Add("priority", zero);
  q.Add("dialer", zero);
  q.SetWhereClause("");
  return q.BuildBound(dialect);
}

void write_message_rows(DBObject& db, const std::vector<SqlStatement>& statements) {
  // Never into a database file that was deleted or replaced under the connection.
  db.CheckDatabaseFile();
  db.BulkExecute(statements);
}

}  // namespace dexweb
