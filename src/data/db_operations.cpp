// DBObject's queries and statements under the retry policy described in db_object.h.
#include "data/db_object.h"
#include "data/dialect.h"
#include "data/sql_text.h"
#include "data/internal/bulk_batches.h"
#include "data/internal/db_engine.h"
#include "data/internal/db_errors.h"
#include "logging/error_policy.h"
#include "logging/log_event.h"
#include "util/random.h"

namespace dexweb {

// How one operation treats a failing step. counter counts the failures of the current
// step; total those of the whole call.
struct DBObject::StepPolicy {
  std::string_view warning;    // "Warning - DbObject.Execute:"
  std::string_view ignored;    // logged when giving up with ignore_failure
  std::string_view succeeded;  // logged after a success that needed retries
  bool bulk = false;
  bool quiet = false;
  bool fail_on_first = false;
  bool ignore_failure = false;
  // The working time-out, and whether the caller left it to the default (-1).
  int* timeout = nullptr;
  bool default_timeout = false;
  int counter = 0;
  int total = 0;
};

namespace {

using StepPolicy = DBObject::StepPolicy;

StepPolicy recordset_policy() {
  return {"Warning - DbObject.OpenRecordset:", "DB open recordset retries failed, but ok to continue.",
          "DB OpenRecordset retry succeeded"};
}
StepPolicy execute_policy() {
  return {"Warning - DbObject.Execute:", "DB Execute retries failed, but ok to continue.",
          "DB execute retry succeeded"};
}
StepPolicy execute_ra_policy() {
  return {"Warning - DbObject.ExecuteRA:", "DB ExecuteRa retries failed, but ok to continue.",
          "DB execute succeeded"};
}
StepPolicy bulk_policy() {
  StepPolicy p{"Warning - DbObject.BulkExecute:", "DB BulkExecute retries failed, but ok to continue.",
               "DB execute retry succeeded"};
  p.bulk = true;
  return p;
}

// The wait after the first failure of a step.
double first_wait(bool server, bool bulk) {
  if (server) return 0.1 + rnd() * 0.4;
  return 0.5 + rnd() * (bulk ? 0.4 : 0.5);
}

void log_retry(const StepPolicy& p, const DbFailure& f, std::string_view prefix, std::string_view sql) {
  db_warning(std::string(p.warning) + signed_number(f.number()) + " " + f.description() + " - Retrying...");
  for (const auto& line : f.engine_errors()) db_log(LogLevel::Debug, std::string(prefix) + line);
  if (!f.engine_errors().empty()) db_log(LogLevel::Debug, "SQL: " + std::string(sql));
}

std::string raised_description(const DbFailure& f, std::string_view sql) {
  std::string out = with_engine_lines(f.description(), f.engine_errors());
  if (!f.engine_errors().empty()) out += "\r\nSQL: " + std::string(sql);
  return out;
}

}  // namespace

bool DBObject::retry_after(StepPolicy& p, const DbFailure& f, std::string_view sql) {
  // A damaged database is never passed over, not even by a quiet call: whatever is
  // written into it next may be lost.
  const bool damaged = is_damaged_database_error(f.number());
  if (p.quiet && !damaged) return false;
  ++p.counter;
  ++p.total;
  const bool server = uses_server_;
  if (p.quiet || p.counter > settings_.retries || p.fail_on_first) {
    // Only a failure that time may cure (a lock, a time-out, a lost connection) is passed
    // over; any other goes to the error routine.
    if (p.ignore_failure && is_retryable_db_error(f.number())) {
      if (error_policy_) error_policy_->make_final();
      db_warning(p.ignored);
      return false;
    }
    raise_final(f.number(), raised_description(f, sql), f.source());
  }
  if (p.counter == 1) {
    wait_or_stop(first_wait(server, p.bulk));
    return true;
  }
  log_retry(p, f, engine_ ? engine_->ErrorPrefix() : (server ? "ADO: " : "DAO: "), sql);
  if (!p.bulk && p.default_timeout) *p.timeout = settings_.medium_timeout;
  wait_or_stop(settings_.medium_timeout + rnd());
  if (!p.bulk && server && (p.counter > 2 || p.counter == settings_.retries)) reconnect();
  return true;
}

template <typename Step>
DBObject::Outcome DBObject::run_step(StepPolicy& p, std::string_view sql, Step&& step) {
  p.counter = 0;
  for (;;) {
    try {
      step();
      return Outcome::Done;
    } catch (const DbFailure& f) {
      if (!retry_after(p, f, sql)) return Outcome::Swallowed;
    }
  }
}

// p.counter counts the failures of the furthest step that has failed: running the steps
// before it again, after a restart, does not renew its budget.
template <typename Text, typename Step>
bool DBObject::run_transaction(StepPolicy& p, std::size_t count, Text&& text, Step&& step) {
  p.counter = 0;
  std::size_t failing = 0;
  std::size_t next = 0;
  while (next < count) {
    try {
      step(next);
    } catch (const DbFailure& f) {
      const bool held = engine_ && engine_->HoldsTransaction();
      // Undone before the wait, so that no lock is held meanwhile.
      if (!held) rollback();
      if (next > failing) {
        failing = next;
        p.counter = 0;
      }
      if (!retry_after(p, f, text(next))) return false;
      if (!held) next = 0;
      continue;
    }
    ++next;
  }
  return true;
}

std::unique_ptr<Recordset> DBObject::OpenRecordset(std::string_view qry, const DbCallOptions& options) {
  return open_recordset(qry, options, [&](int t) { return engine().Query(qry, t); });
}

std::unique_ptr<Recordset> DBObject::OpenRecordset(const SqlStatement& statement, const DbCallOptions& options) {
  return open_recordset(inline_values(statement), options, [&](int t) { return engine().QueryStatement(statement, t); });
}

template <typename Query>
std::unique_ptr<Recordset> DBObject::open_recordset(std::string_view qry, const DbCallOptions& options, Query&& query) {
  int t = options.timeout == -1 ? settings_.short_timeout : options.timeout;
  OpenDb(1);
  StepPolicy p = recordset_policy();
  p.ignore_failure = options.ignore_failure;
  p.timeout = &t;
  p.default_timeout = options.timeout == -1;
  std::unique_ptr<Recordset> rs;
  if (run_step(p, qry, [&] { rs = query(t); }) == Outcome::Swallowed) return nullptr;
  if (p.counter > 1) db_log(LogLevel::Detail, p.succeeded);
  return rs;
}

bool DBObject::Execute(std::string_view qry, const DbCallOptions& options) {
  return run_statement(execute_policy(), qry, options, true).has_value();
}

long long DBObject::ExecuteRA(std::string_view qry, const DbCallOptions& options) {
  return run_statement(execute_ra_policy(), qry, options, !uses_server_).value_or(0);
}

std::optional<long long> DBObject::run_statement(const StepPolicy& texts, std::string_view qry,
                                                 const DbCallOptions& options, bool open_first) {
  StepPolicy p = texts;
  int t = options.timeout == -1 ? settings_.short_timeout : options.timeout;
  if (options.timeout == 0) {
    t = 1;
    p.quiet = true;
  }
  if (trim_blanks(qry).empty()) return 0;
  if (open_first) OpenDb(1);
  p.ignore_failure = options.ignore_failure;
  p.timeout = &t;
  p.default_timeout = options.timeout == -1;
  long long affected = 0;
  if (run_step(p, qry, [&] { affected = engine().Run(qry, t); }) == Outcome::Swallowed) return std::nullopt;
  if (p.counter > 1) db_log(LogLevel::Detail, p.succeeded);
  return affected;
}

bool DBObject::BulkExecute(NVPList& qry_list, const DbBulkOptions& options) {
  const bool transaction = options.use_transaction;
  return run_bulk(qry_list.Count(), options, [&](StepPolicy& p, int& t) {
    if (!uses_server_) return bulk_embedded(statements_of(qry_list), p, t, transaction);
    if (options.send_singles) return bulk_singles(qry_list, p, t, transaction);
    return bulk_batched(batch_statements(SqlDialect(), qry_list, transaction), p, t, transaction);
  });
}

bool DBObject::BulkExecute(const std::vector<SqlStatement>& statements, const DbStatementsOptions& options) {
  const DbBulkOptions bulk{.timeout = options.timeout,
                           .ignore_failure = options.ignore_failure,
                           .fail_on_first_error = options.fail_on_first_error,
                           .use_transaction = true};
  return run_bulk(static_cast<int>(statements.size()), bulk, [&](StepPolicy& p, int& t) {
    if (!uses_server_) return bulk_embedded(statements, p, t, true);
    return bulk_batched(batch_statements(SqlDialect(), statements, true), p, t, true);
  });
}

std::unique_ptr<Recordset> DBObject::BulkQuery(const SqlStatement& statement, const DbCallOptions& options) {
  std::unique_ptr<Recordset> rs;
  const DbBulkOptions bulk{.timeout = options.timeout, .ignore_failure = options.ignore_failure};
  run_bulk(1, bulk, [&](StepPolicy& p, int& t) {
    if (t == -1) t = settings_.short_timeout;
    std::string sql;
    auto text = [&](std::size_t) -> std::string_view {
      sql = inline_values(statement);
      return sql;
    };
    return run_transaction(p, 1, text, [&](std::size_t) { rs = engine().QueryStatement(statement, t); });
  });
  return rs;
}

template <typename Body>
bool DBObject::run_bulk(int count, const DbBulkOptions& options, Body&& body) {
  StepPolicy p = bulk_policy();
  int timeout = options.timeout;
  if (timeout == 0) {
    timeout = 1;
    p.quiet = true;
  }
  if (count == 0) return true;
  OpenDb(1);
  p.fail_on_first = options.fail_on_first_error;
  p.ignore_failure = options.ignore_failure;
  p.timeout = &timeout;
  // A call that ends early undoes its transaction rather than leave it open for later
  // statements to commit.
  bool completed = false;
  try {
    completed = body(p, timeout);
  } catch (...) {
    if (options.use_transaction) rollback();
    throw;
  }
  if (!completed) {
    if (options.use_transaction) rollback();
    return false;
  }
  if (p.total > 1) db_log(LogLevel::Detail, p.succeeded);
  return true;
}

bool DBObject::bulk_batched(const std::vector<StatementBatch>& batches, StepPolicy& p, int& timeout,
                            bool use_transaction) {
  const int short_timeout = settings_.short_timeout;
  // A batch's text with its values written in, for the log lines of a failure.
  std::string sql;
  auto text = [&](std::size_t i) -> std::string_view {
    sql = inline_values(batches[i].statement);
    return sql;
  };
  auto step = [&](std::size_t i) {
    if (timeout == -1) timeout = batches[i].statements * short_timeout;
    engine().RunStatement(batches[i].statement, timeout);
  };
  if (use_transaction) return run_transaction(p, batches.size(), text, step);
  for (std::size_t i = 0; i < batches.size(); ++i)
    if (run_step(p, text(i), [&] { step(i); }) == Outcome::Swallowed) return false;
  return true;
}

bool DBObject::bulk_singles(NVPList& list, StepPolicy& p, int& timeout, bool use_transaction) {
  if (timeout == -1) timeout = settings_.medium_timeout;
  const Dialect& dialect = SqlDialect();
  std::string prefix;
  if (use_transaction) {
    prefix = dialect.batch_transaction_prefix();
    list.Add(dialect.batch_commit_entry());
  }
  // Step i sends entry i + 1; the first carries the prefix.
  const std::size_t count = static_cast<std::size_t>(list.Count());
  std::string sql;
  auto text = [&](std::size_t) -> std::string_view { return sql; };
  auto compose = [&](std::size_t i) {
    sql = (i == 0 ? prefix : std::string()) + list.GetNameByIndex(static_cast<int>(i) + 1);
  };
  if (use_transaction) {
    auto step = [&](std::size_t i) {
      compose(i);
      engine().Run(sql, timeout);
    };
    return run_transaction(p, count, text, step);
  }
  for (std::size_t i = 0; i < count; ++i) {
    compose(i);
    if (run_step(p, sql, [&] { engine().Run(sql, timeout); }) == Outcome::Swallowed) return false;
  }
  return true;
}

bool DBObject::bulk_embedded(const std::vector<SqlStatement>& list, StepPolicy& p, int& timeout,
                             bool use_transaction) {
  if (timeout == -1) timeout = settings_.medium_timeout;
  const Dialect& dialect = SqlDialect();
  const std::size_t entries = list.size();
  // The statement of the step running now, with its values written in when a log line
  // needs it.
  const SqlStatement* current = nullptr;
  std::string sql;
  auto text = [&](std::size_t) -> std::string_view {
    sql = inline_values(*current);
    return sql;
  };
  const SqlStatement begin(dialect.begin_statement()), commit(dialect.batch_commit_entry());
  bool done = true;
  if (use_transaction) {
    // Step 0 begins, steps 1..entries are the entries, the last one commits.
    auto step = [&](std::size_t i) {
      current = i == 0 ? &begin : i <= entries ? &list[i - 1] : &commit;
      engine().RunStatement(*current, timeout);
    };
    done = run_transaction(p, entries + 2, text, step);
  } else {
    for (std::size_t i = 1; done && i <= entries; ++i) {
      current = &list[i - 1];
      done = run_step(p, inline_values(*current), [&] { engine().RunStatement(*current, timeout); }) == Outcome::Done;
    }
  }
  return done;
}

void DBObject::rollback() noexcept {
  if (!engine_) return;
  try {
    engine_->Run(SqlDialect().rollback_statement(), 0);
  } catch (...) {
    // No transaction was open, or the connection is gone with it. No event runs here, so
    // nothing but the engine's own failure can arrive.
  }
}

}  // namespace dexweb
