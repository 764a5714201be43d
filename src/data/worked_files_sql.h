#pragma once
// The SQL of the record of worked web files (table worked_files), in the SQL of each
// database kind. Every text uses the module's bracketed identifiers, which the engine's
// dialect turns into its own quoting (data/dialect.h).

#include <string>
#include <string_view>

#include "data/sql_text.h"
#include "util/datetime.h"

namespace dexweb {

class Dialect;

inline constexpr std::size_t kWorkedNameLimit = 255;
inline constexpr std::size_t kWorkedPathLimit = 1024;
inline constexpr std::size_t kWorkedByLimit = 80;

// One worked file as recorded. Texts longer than the column are cut.
struct WorkedFileRow {
  std::string file_key;  // the file's claim, or its identity where it was worked in place
  std::string name;
  bool refused = false;
  std::string bad_copy;   // where the refused file's copy belongs; empty when not refused
  std::string worked_by;  // the module run that worked it
  int rows = 0;           // messages rows written with the record
  bool copy_made = false; // the bad copy exists
  bool notified = false;  // its refusals were reported and notified (or it had none)
};

namespace worked_files_sql {

// Creates the table where it is missing; harmless where it exists.
std::string create_table(const Dialect& dialect);
// One row with the column [found]: 1 when the table exists, else 0.
std::string exists_query(const Dialect& dialect);
// The row of one key, columns [refused], [bad_copy], [worked_by], [copy_made], [notified]; no
// row when the file was not worked. Reads committed rows only (no dirty-read hint).
SqlStatement lookup(const Dialect& dialect, std::string_view file_key);
// The INSERT of one row, stamped with the database's "now", its texts as bound values.
SqlStatement insert(const Dialect& dialect, const WorkedFileRow& row);
// Records that the bad copy of a key was made, at bad_copy.
SqlStatement copy_made(const Dialect& dialect, std::string_view file_key, std::string_view bad_copy);
// Records that the refusals of a key were reported and notified.
SqlStatement notified(const Dialect& dialect, std::string_view file_key);
// The [file_key] and [name] of the rows worked before cutoff.
std::string older_than(const Dialect& dialect, DateTime cutoff);
// Stamps the row of a key with the database's "now", so that a prune keeps it.
SqlStatement keep(const Dialect& dialect, std::string_view file_key);
// Removes the rows worked before cutoff.
std::string prune(const Dialect& dialect, DateTime cutoff);

}  // namespace worked_files_sql
}  // namespace dexweb
