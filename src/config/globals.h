#pragma once
// The module-wide values, gathered in one place. Everything else that lives for the
// process is owned by an object (the main form, the database object, the loop).

#include <chrono>
#include <string>

#include "util/datetime.h"

#include "config/registry_settings.h"
#include "logging/log_triggers.h"
#include "logging/monitor_settings.h"
#include "util/nvp_list.h"
#include "util/string_builder.h"

namespace dexweb {

class MainForm;

// The database behind DBObject: the embedded file, or a server reached over ODBC whose
// dialect follows the DBMS the driver reports.
enum class DatabaseKind { Embedded, SqlServer, PostgreSql };

struct Globals {
  std::string ModuleName = "VTXWeb";
  bool ProgramHalted = false;
  bool DbErrorHalted = false;
  bool ServiceStarted = false;
  bool LogToDisk = true;
  int LogLevel = 3;
  // The error routine's counters: failed attempts in this round, warning rounds given.
  int RetryCount = 0;
  int RetryRound = 0;
  // ServerNow = local time + TimeOffset (the gateway's clock).
  std::chrono::milliseconds TimeOffset{0};
  RegistrySettings Registry;
  // The main form while the module runs (not owned): module procedures reach its timers
  // and its stop sequence through it.
  MainForm* Form = nullptr;
  // The database kind, published by DBObject::OpenDb. UseSqlServer (a server database) is
  // never reset once set; DbKind names the server's dialect.
  bool UseSqlServer = false;
  DatabaseKind DbKind = DatabaseKind::Embedded;
  // Written directly after a bracketed table name in SELECTs (" WITH (NOLOCK)" on SQL Server).
  std::string NoLockHint;
  std::string SqlIsolationLevel = "READ COMMITTED";
  // Lock waits of the embedded database, drawn at each open: JetLockDelay ms (25 to 74),
  // JetLockRetry = 1000 / JetLockDelay tries.
  int JetLockDelay = 25;
  int JetLockRetry = 40;
  // Unique ids: the counters row's key, failed allocations since the last success, and
  // the sequence behind UniqueName.
  int CountersRecordId = 0;
  int UniqueFailures = 0;
  int LocalSequence = 0;
  // Logging: log_event calls in progress, the builder of the outermost one, the disk lines
  // waiting for flush_log_queues (the line is the name, False the value) and the interlock
  // of the two disk writers.
  int LogDepth = 0;
  clsStringBuilder LogBuilder;
  NVPList DiskLogQueue;
  NVPList MessageLogQueue;
  NVPList GuiLogQueue;
  bool FlushBusy = false;
  bool DirectBusy = false;
  LogTriggerTable LogTriggers;
  MonitorSettings Monitor;
};

Globals& globals();
// Puts every value back to its start value (tests).
void reset_globals();

// Local time plus TimeOffset: every time stamp of the module.
DateTime ServerNow();

}  // namespace dexweb
