#include "data/unique_ids.h"

#include "data/db_object.h"
#include "data/dialect.h"
#include "data/internal/db_log.h"
#include "logging/error_policy.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "util/module_name.h"
#include "util/random.h"

namespace dexweb {
namespace {

// Holds DB_Retries at 0 and the embedded lock wait at one try for the counter step, and
// puts both back however the step ends.
class CounterStepScope {
 public:
  explicit CounterStepScope(DBObject& db) : db_(db), retries_(db, 0) { db_.SetLockRetry(1); }
  ~CounterStepScope() { db_.SetLockRetry(db_.LockRetries()); }
  CounterStepScope(const CounterStepScope&) = delete;
  CounterStepScope& operator=(const CounterStepScope&) = delete;

 private:
  DBObject& db_;
  ScopedRetries retries_;
};

int draw_counter(DBObject& db) {
  std::unique_ptr<Recordset> rs;
  {
    // The lock wait applies once the database is open (OpenRecordset opens it first).
    db.OpenDb(1);
    CounterStepScope scope(db);
    rs = db.OpenRecordset(db.SqlDialect().counter_step(db.Counter().record_id));
  }
  int id = rs && !rs->Eof() ? rs->AsLong("unique_id") : 0;
  free_recordset(rs);
  return id;
}

// The eleventh failure since the last success is final: the owner's error routine halts.
void give_up(DBObject& db, RuntimeError error) {
  error.mark_final();
  ErrorPolicy* policy = db.ErrorPolicyInUse();
  if (!policy) throw error;
  policy->on_error(error, "Procedure: get_unique2");
}

}  // namespace

int get_unique2(DBObject& db) {
  int& failures = db.Counter().failures;
  try {
    int id = draw_counter(db);
    failures = 0;
    return id;
  } catch (const RuntimeError& e) {
    db_log("detail", "Get_Unique2 warning: " + std::to_string(e.number()) + " " + e.description());
    if (++failures > 10) give_up(db, e);
    return -1;
  }
}

int get_unique(DBObject& db) {
  int id = get_unique2(db);
  int retries = 0;
  while (id == -1 && retries < 5) {
    if (retries > 0) platform::wait_seconds(db.Settings().short_timeout + rnd());
    ++retries;
    id = get_unique2(db);
  }
  if (id == -1) {
    id = static_cast<int>(rnd() * 1000000000.0 + 1000000000.0);
    db_log("detail", "get_unique failed, using random unique id");
  } else if (retries >= 2) {
    db_log("detail", "get_unique retry was successful");
  }
  return id;
}

namespace {

// Names are unique within one process run, so their sequence belongs to the process.
int& name_sequence() {
  static int sequence = 0;
  return sequence;
}

}  // namespace

int next_local_id() {
  int& sequence = name_sequence();
  sequence = sequence >= kMaxUniqueId ? 1 : sequence + 1;
  return sequence;
}

void restart_name_sequence(int last) { name_sequence() = last; }

std::string unique_name() {
  return std::string(kModuleName) + format_compact(platform::server_now()) + std::to_string(next_local_id());
}

}  // namespace dexweb
