#pragma once
// The gateway's single-row tables as the poll cycle keeps them, and the clock they tell.
//
// GatewayRows: the record ids of the settings, control and counters rows (read once, while
// none is known), the daemon's copy of the settings and control rows (config/
// gateway_settings.h), refreshed by the poll cycle, and the control row's flags written back.
//
// ClockSync: keeps server_now on the gateway's clock: the server's own clock on a server
// database (its offset taken at the first tick), otherwise the scheduler's velotrax_time,
// caught on the edge of its next step: up to ten half-second waits, reading the control row
// again after each. "Time synchronized with database" when it was caught, "Unable to
// synchronize time with database. Using local time." when not, or when the scheduler stopped.

#include <functional>
#include <string>

#include "config/gateway_settings.h"
#include "config/registry.h"
#include "util/datetime.h"

namespace dexweb {

class DBObject;

class GatewayRows {
 public:
  bool record_ids_known() const { return settings_record_id_ != 0; }
  // Reads the three record ids (0 for a table without a row) and gives the counters row's
  // to db.
  void read_record_ids(DBObject& db);
  int counters_record_id() const { return counters_record_id_; }

  // Read the row into the copy (a table without a row leaves it as it was); the settings
  // row also sets the log's level and whether it goes to disk.
  void read_settings_row(DBObject& db);
  void read_control_row(DBObject& db);
  // Sets a Boolean field of the control row (whole_table: of every row of the table).
  void write_control_flag(DBObject& db, const std::string& field, bool value, bool whole_table) const;

  const GatewaySettings& settings() const { return settings_; }
  // A row of the control table was read at least once.
  bool control_row_seen() const { return control_row_seen_; }
  void set_mail_out_dir(std::string folder) { settings_.mail_out_dir = std::move(folder); }
  // The run flag the module wrote itself when a pause at start was lifted.
  void note_run_written() { settings_.dexweb_run = true; }

 private:
  int settings_record_id_ = 0;
  int control_record_id_ = 0;
  int counters_record_id_ = 0;
  std::string settings_query_;
  std::string control_query_;
  bool control_row_seen_ = false;
  GatewaySettings settings_;
};

class ClockSync {
 public:
  // A synchronisation is wanted (at the start of a run, and when a pause ends).
  void wanted() { pending_ = true; }
  bool pending() const { return pending_; }

  // What the alignment of a refresh works with: the rows (read again through
  // read_control_row while it waits for the scheduler's step), the registry's
  // SyncTimeWithServer and sched_reg_run, and the kind of database.
  struct Inputs {
    const GatewaySettings& settings;
    const RegistrySettings& registry;
    bool server_database = false;
    bool at_first_tick = false;
    std::function<void()> read_control_row;
  };
  void align(const Inputs& in);

 private:
  void wait_for_scheduler_tick(const Inputs& in);

  bool pending_ = true;
  // The velotrax_time the last wait for the scheduler's step began at.
  DateTime last_velotrax_time_{};
};

}  // namespace dexweb
