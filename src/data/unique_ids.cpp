#include "data/unique_ids.h"

#include <algorithm>
#include <cstdlib>

#include "data/db_object.h"
#include "data/dialect.h"
#include "data/internal/db_log.h"
#include "logging/error_policy.h"
#include "logging/log_files.h"
#include "platform/clock.h"
#include "platform/files.h"
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
    db_warning("Get_Unique2 warning: " + std::to_string(e.number()) + " " + e.description());
    if (++failures > 10) give_up(db, e);
    return -1;
  }
}

int get_unique(DBObject& db) {
  int id = get_unique2(db);
  int retries = 0;
  while (id == -1 && retries < 5) {
    if (retries > 0) wait_or_stop(db.Settings().short_timeout + rnd());
    ++retries;
    id = get_unique2(db);
  }
  if (id == -1) {
    id = static_cast<int>(rnd() * 1000000000.0 + 1000000000.0);
    db_warning("get_unique failed, using random unique id");
  } else if (retries >= 2) {
    db_log("detail", "get_unique retry was successful");
  }
  return id;
}

namespace {

// Values reserved at a time: one durable write per block.
constexpr int kReservedBlock = 10000;

// The process's one name sequence, and where it is kept across runs.
struct NameSequence {
  int last = 0;
  int reserved = 0;  // values up to here are reserved in the file
  std::string path;  // empty: not kept
};

NameSequence& name_sequence() {
  static NameSequence sequence;
  return sequence;
}

void reserve_up_to(NameSequence& sequence, int value) {
  try {
    platform::write_file_atomic(sequence.path, std::to_string(value) + "\n");
    sequence.reserved = value;
  } catch (const RuntimeError&) {
    // Unkept from here on: names are still never written over another file.
    sequence.path.clear();
  }
}

}  // namespace

int next_local_id() {
  NameSequence& sequence = name_sequence();
  sequence.last = sequence.last >= kMaxUniqueId ? 1 : sequence.last + 1;
  if (!sequence.path.empty() && sequence.last > sequence.reserved)
    reserve_up_to(sequence, std::min(kMaxUniqueId, sequence.last + kReservedBlock - 1));
  return sequence.last;
}

void restart_name_sequence(int last) { name_sequence() = NameSequence{last, 0, {}}; }

void keep_name_sequence(const std::string& path) {
  NameSequence& sequence = name_sequence();
  sequence.path = path;
  long long stored = 0;
  try {
    stored = std::atoll(platform::read_file(path, 32).c_str());
  } catch (const RuntimeError&) {
    // None yet: the first run of the home.
  }
  sequence.last = stored > 0 && stored < kMaxUniqueId ? static_cast<int>(stored) : 0;
  sequence.reserved = sequence.last;
}

std::string unique_name() {
  return std::string(kModuleName) + format_compact(platform::server_now()) + std::to_string(next_local_id());
}

}  // namespace dexweb
