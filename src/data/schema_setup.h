#pragma once
// Making the gateway tables of a new database from the project's schema files
// (schema/sqlite.sql, postgresql.sql, sqlserver.sql).

#include <string>
#include <string_view>
#include <vector>

#include "data/dialect.h"

namespace dexweb {

class DBObject;

// The schema file's name for a database kind, e.g. "sqlite.sql".
std::string schema_file_name(DatabaseKind kind);

// Creates an empty embedded database file. Raises RuntimeError when the file exists already
// or cannot be created.
void create_embedded_database_file(const std::string& path);

// The batches of a schema script: the text between lines that hold only "GO" (SQL Server's
// batch separator); a script without such lines is one batch.
std::vector<std::string> script_batches(std::string_view script);

// Runs a schema script, batch by batch, on the database; raises the data layer's
// RuntimeError when a statement fails.
void create_schema(DBObject& db, const std::string& script);

}  // namespace dexweb
