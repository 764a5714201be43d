#pragma once
// The module-wide values below the logging (the logging's own are in logging/log_state.h).
// Everything else that lives for the process is owned by an object (the main form, the
// database object, the loop).

#include <chrono>
#include <string>

#include "util/datetime.h"

#include "config/registry_settings.h"

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
};

// The logging's module-wide values are in logging/log_state.h, whose reset_globals() puts
// these and those back to their start values.
Globals& globals();

// Local time plus TimeOffset: every time stamp of the module.
DateTime ServerNow();

}  // namespace dexweb
