#pragma once
// Ids shared by all modules of the gateway, drawn from the counters row, and names unique
// within this module. A message's id is drawn inside the transaction of its rows instead
// (Dialect::counter_advance and counter_value), so that the id and the rows commit together
// with one flush.

#include <string>

namespace dexweb {

class DBObject;

inline constexpr int kMaxUniqueId = 2000000000;

// One attempt at the shared counter: one atomic step that wraps from 2000000000 to 1 and
// returns the new value; 0 when the counters table has no row; -1 when the attempt failed
// (logged as "Get_Unique2 warning: "). The statement gets no retries of its own; on the
// embedded database its lock wait is a single try of DBObject::LockDelayMs() ms. The
// eleventh failed attempt since the last success is final: the database object's error
// policy halts (without one the error is raised).
int get_unique2(DBObject& db);

// An id that never fails: up to six attempts of get_unique2 (waits of DB_Short_Timeout
// + [0,1) s before the third and later ones), then a random id in 1000000000..1999999999,
// which the counter never reaches before it has handed out a billion ids.
int get_unique(DBObject& db);

// The module's own sequence: 1, 2, ... 2000000000, then 1 again; the process's one name
// sequence.
int next_local_id();
// Sets the sequence's last value (tests: the next id is last + 1); it is no longer kept.
void restart_name_sequence(int last);
// Keeps the sequence across runs in the file at path (in the home, whose one module this
// run is): the run goes on after the last value any earlier run may have handed out, also
// one killed, because values are reserved there in blocks, durably, before they are handed
// out. Without it, or when the file cannot be written, the sequence begins again at each
// run. Never throws.
void keep_name_sequence(const std::string& path);

// kModuleName + server_now as yyyymmddhhnnss + next_local_id(), e.g. VTXWeb2026120419141942.
// With the sequence kept across runs no run makes a name an earlier run of the home made;
// a writer that shares its folder with other modules still creates files without replacing
// and takes the next name while the name is taken.
std::string unique_name();

}  // namespace dexweb
