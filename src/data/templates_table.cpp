#include "data/templates_table.h"

#include "config/interface_settings.h"
#include "data/db_object.h"
#include "data/dialect.h"
#include "data/sql_text.h"

namespace dexweb {
namespace {

constexpr int kInterfaceRowType = 10;
constexpr int kGlobalRowType = 0;
constexpr const char* kGlobalName = "global";

std::string row_condition(const Dialect& dialect, int type, std::string_view name) {
  return " (([type] =" + sql_number(type) + ") AND (" +
         dialect.equals_ignoring_case("[name]", sql_string(std::string(name))) + "))";
}

}  // namespace

std::string interface_name(int interface_number) {
  switch (interface_number) {
    case 1: return "dexascii";
    case 2: return "dexmail";
    case 4: return "dexweb";
    case 5: return "dextap";
    case 6: return "dexserial";
    default: return "gui";
  }
}

std::string templates_query(const Dialect& dialect, std::string_view interface_name) {
  return "SELECT [type], [name], [settings], [subject], [body]"
         " FROM [templates]" +
         dialect.table_hint() + " WHERE (" + row_condition(dialect, kInterfaceRowType, interface_name) + " OR" +
         row_condition(dialect, kGlobalRowType, kGlobalName) + " )";
}

void load_templates(int interface_number, DBObject& db, InterfaceSettings& interface_record,
                    InterfaceSettings& global_record) {
  interface_record.reset();
  global_record.reset();
  std::unique_ptr<Recordset> rs = db.OpenRecordset(templates_query(db.SqlDialect(), interface_name(interface_number)));
  for (; rs && !rs->Eof(); rs->MoveNext()) {
    if (rs->IsNull("type")) continue;
    std::int32_t type = rs->AsLong("type");
    if (type != kInterfaceRowType && type != kGlobalRowType) continue;
    InterfaceSettings& record = type == kInterfaceRowType ? interface_record : global_record;
    record.reset();
    parse_settings(record, rs->AsText("settings"), rs->AsText("subject"), rs->AsText("body"));
  }
  free_recordset(rs);
}

InterfaceSettings effective_interface_settings(DBObject& db) {
  InterfaceSettings effective, own, global;
  load_templates(kDexWebInterface, db, own, global);
  overlay(effective, global);
  overlay(effective, own);
  return effective;
}

}  // namespace dexweb
