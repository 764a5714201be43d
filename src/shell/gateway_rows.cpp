#include "shell/internal/gateway_rows.h"

#include <chrono>
#include <variant>

#include "data/db_object.h"
#include "data/sql_text.h"
#include "logging/log_event.h"
#include "logging/reporter.h"
#include "logging/monitor_link.h"
#include "platform/clock.h"

namespace dexweb {
namespace {

constexpr int kSchedulerTickWaits = 10;
constexpr const char* kSynchronized = "Time synchronized with database";
constexpr const char* kUnsynchronized = "Unable to synchronize time with database. Using local time.";

std::string row_filter(int record_id) { return " WHERE ([record_id] =" + sql_number(record_id) + ")"; }

std::string from(const Dialect& dialect, const std::string& table) {
  return " FROM [" + table + "]" + dialect.table_hint();
}

int read_record_id(DBObject& db, const std::string& table) {
  auto rs = db.OpenRecordset("SELECT [record_id]" + from(db.SqlDialect(), table));
  int id = rs && !rs->Eof() ? rs->AsLong("record_id") : 0;
  free_recordset(rs);
  return id;
}

bool scheduler_shares_this_clock(const RegistrySettings& registry) {
  auto flag = get_named_setting(registry, "sched_reg_run");
  return flag && std::holds_alternative<bool>(*flag) && std::get<bool>(*flag);
}

void set_offset_to(DateTime gateway_now) {
  platform::set_server_time_offset(
      std::chrono::duration_cast<std::chrono::milliseconds>(gateway_now - platform::local_now()));
}

}  // namespace

void GatewayRows::read_record_ids(DBObject& db) {
  settings_record_id_ = read_record_id(db, "settings");
  settings_query_ =
      "SELECT [dexmail_enabled], [postmaster], [domain], [dexwebcgi_path], [retry_interval], [dexweb_poll], "
      "[log_to_disk], [log_level]" + from(db.SqlDialect(), "settings") + row_filter(settings_record_id_);
  control_record_id_ = read_record_id(db, "control");
  control_query_ = "SELECT [dexweb_pause], [dexweb_run], [sched_state], [velotrax_time]" +
                   from(db.SqlDialect(), "control") + row_filter(control_record_id_);
  counters_record_id_ = read_record_id(db, "counters");
  db.Counter().record_id = counters_record_id_;
}

void GatewayRows::read_settings_row(DBObject& db) {
  auto rs = db.OpenRecordset(settings_query_);
  if (rs && !rs->Eof()) {
    settings_.dexmail_enabled = rs->AsBool("dexmail_enabled");
    settings_.postmaster = rs->AsText("postmaster");
    settings_.domain = rs->AsText("domain");
    settings_.dexwebcgi_path = rs->AsText("dexwebcgi_path");
    settings_.retry_interval = rs->AsLong("retry_interval");
    settings_.dexweb_poll = rs->AsLong("dexweb_poll");
    settings_.log_to_disk = rs->AsBool("log_to_disk");
    settings_.log_level = rs->AsLong("log_level");
  }
  free_recordset(rs);
  log_state().log_to_disk = settings_.log_to_disk;
  log_state().log_level = settings_.log_level;
  settings_.retry_interval_text = std::to_string(settings_.retry_interval);
}

void GatewayRows::read_control_row(DBObject& db) {
  auto rs = db.OpenRecordset(control_query_);
  if (rs && !rs->Eof()) {
    control_row_seen_ = true;
    settings_.dexweb_pause = rs->AsBool("dexweb_pause");
    settings_.dexweb_run = rs->AsBool("dexweb_run");
    settings_.sched_state = rs->AsBool("sched_state");
    settings_.velotrax_time = rs->IsNull("velotrax_time") ? DateTime{} : rs->AsDate("velotrax_time");
  }
  free_recordset(rs);
}

void GatewayRows::write_control_flag(DBObject& db, const std::string& field, bool value, bool whole_table) const {
  std::string where = whole_table ? "" : "[record_id] =" + sql_number(control_record_id_);
  QueryObject query;
  db.Execute(query.Build(db.SqlDialect(), QueryObject::kUpdate, "control", {field, value}, where));
}

void ClockSync::align(const Inputs& in) {
  const GatewaySettings& row = in.settings;
  if (!row.sched_state && !in.at_first_tick && !pending_) {
    pending_ = true;
    log_detail(kUnsynchronized);
  }
  if (!pending_ || !row.sched_state || row.velotrax_time == last_velotrax_time_) return;
  if (!in.registry.SyncTimeWithServer) {
    pending_ = false;
  } else if (in.server_database) {
    pending_ = false;  // the offset was taken from the server at the first tick
    log_detail(kSynchronized);
  } else if (scheduler_shares_this_clock(in.registry)) {
    platform::set_server_time_offset(std::chrono::milliseconds{0});
    pending_ = false;
    log_detail(kSynchronized);
  } else {
    wait_for_scheduler_tick(in);
  }
}

void ClockSync::wait_for_scheduler_tick(const Inputs& in) {
  const GatewaySettings& row = in.settings;
  last_velotrax_time_ = row.velotrax_time;
  for (int i = 0; i < kSchedulerTickWaits && row.velotrax_time == last_velotrax_time_; ++i) {
    wait_or_stop(0.5);
    in.read_control_row();
  }
  if (row.velotrax_time == last_velotrax_time_) {
    platform::set_server_time_offset(std::chrono::milliseconds{0});
    pending_ = true;
    log_detail(kUnsynchronized);
  } else {
    set_offset_to(row.velotrax_time);
    pending_ = false;
    log_detail(kSynchronized);
  }
}

}  // namespace dexweb
