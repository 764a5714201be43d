#pragma once
// The data layer's module-wide values, until they move into the database object. Everything
// else that lives for the run is owned by an object (the daemon, the database object, the
// loop); the process-wide values are the clock with the gateway's offset (platform/clock.h),
// the signal flags of the loop and the installed reporter (logging/reporter.h).

#include <string>

#include "platform/clock.h"
#include "util/datetime.h"

namespace dexweb {

// The database behind DBObject: the embedded file, or a server reached over ODBC whose
// dialect follows the DBMS the driver reports.
enum class DatabaseKind { Embedded, SqlServer, PostgreSql };

struct Globals {
  // The database kind, published by DBObject::OpenDb. use_sql_server (a server database) is
  // never reset once set; db_kind names the server's dialect.
  bool use_sql_server = false;
  DatabaseKind db_kind = DatabaseKind::Embedded;
  // Written directly after a bracketed table name in SELECTs (" WITH (NOLOCK)" on SQL Server).
  std::string no_lock_hint;
  std::string sql_isolation_level = "READ COMMITTED";
  // Lock waits of the embedded database, drawn at each open: lock_delay_ms ms (25 to 74),
  // lock_retries = 1000 / lock_delay_ms tries.
  int lock_delay_ms = 25;
  int lock_retries = 40;
  // Unique ids: the counters row's key, failed allocations since the last success, and
  // the sequence behind unique_name.
  int counters_record_id = 0;
  int unique_failures = 0;
  int local_sequence = 0;
};

// reset_globals() (logging/log_state.h) puts these back to their start values, with the
// gateway time offset and the installed reporter's state.
Globals& globals();

// The data layer's callers of the gateway time, until its module-wide values move.
using platform::server_now;

}  // namespace dexweb
