#pragma once
// Names unique within this module. (The ids shared by all modules of the gateway come from
// the counters row, drawn inside the transaction of a message's rows: Dialect::counter_advance
// and counter_value, so that the id and the rows commit together with one flush.)

#include <string>

namespace dexweb {

inline constexpr int kMaxUniqueId = 2000000000;

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
