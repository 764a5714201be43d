// The templates table: SQL Server's SELECT as sent, and the rows read from a real database.
#include <gtest/gtest.h>

#include "config/interface_settings.h"
#include "data/db_object.h"
#include "data/dialect.h"
#include "data/engine_fixture.h"
#include "data/templates_table.h"
#include "logging/reporter.h"

namespace dexweb {
namespace {

using test::EngineTest;

TEST(TemplatesQuery, SqlServerTextAsSent) {
  EXPECT_EQ(templates_query(dialect_for(DatabaseKind::SqlServer), "dexweb"),
            "SELECT [type], [name], [settings], [subject], [body] FROM [templates] WITH (NOLOCK)"
            " WHERE ( (([type] = 10 ) AND ([name] = 'dexweb' )) OR (([type] = 0 ) AND ([name] = 'global' )) )");
}

class TemplatesTable : public EngineTest {
 protected:
  void add_row(int type, const std::string& name, const std::string& settings, const std::string& subject = "NULL",
               const std::string& body = "NULL") {
    database().exec("INSERT INTO templates (type, name, settings, subject, body) VALUES (" + std::to_string(type) +
                    ", '" + name + "', " + settings + ", " + subject + ", " + body + ")");
  }
  std::string text(const InterfaceSettings& s, std::string_view key) {
    return std::get<std::string>(s.value(*find_setting(key)));
  }
  bool set(const InterfaceSettings& s, std::string_view key) { return s.is_set(*find_setting(key)); }
};
DEXWEB_INSTANTIATE_ENGINES(TemplatesTable);

// Names in any case are the interface row and the global row.
TEST_P(TemplatesTable, ReadsOnlyTheInterfaceRowAndTheGlobalRow) {
  add_row(10, "global", "'from=wrong type'");
  add_row(0, "dexweb", "'from=wrong name'");
  add_row(10, "dexmail", "'from=other interface'");
  add_row(3, "dexweb", "'from=other type'");
  add_row(10, "DexWeb", "'interfacefilter=/f/web.txt\r\nusefilterdll=TRUE'", "'S'", "''");
  add_row(0, "GLOBAL", "NULL", "NULL", "'%Message%'");
  DBObject db(database().settings());
  InterfaceSettings own, global;
  load_templates(kDexWebInterface, db, own, global);
  EXPECT_TRUE(own.has_content());
  EXPECT_EQ(text(own, "interfacefilter"), "/f/web.txt");
  EXPECT_TRUE(own.value(settings_key::kUseFilterDll));
  EXPECT_FALSE(set(own, "from"));
  EXPECT_EQ(own.subject().text, "S");
  EXPECT_FALSE(own.body().set);
  EXPECT_TRUE(global.has_content());
  EXPECT_FALSE(set(global, "from"));
  EXPECT_EQ(global.body().text, "%Message%");
}

TEST_P(TemplatesTable, AMissingRowLeavesDefaultsAndTheLastOfSeveralRowsWins) {
  add_row(0, "global", "'from=first'");
  add_row(0, "global", "'to=second'");
  DBObject db(database().settings());
  InterfaceSettings own, global;
  own.set_has_content();
  load_templates(kDexWebInterface, db, own, global);
  EXPECT_FALSE(own.has_content());
  EXPECT_FALSE(set(global, "from"));
  EXPECT_EQ(text(global, "to"), "second");
}

TEST_P(TemplatesTable, EffectiveSettingsLayTheInterfaceRowOverTheGlobalRow) {
  add_row(0, "global", "'interfacefilter=/f/global.txt\r\nrawinterfacefilter=/f/raw.txt\r\nusefilterdll=true'");
  add_row(10, "dexweb", "'interfacefilter=\r\nusefilterdllfile=true'");
  DBObject db(database().settings());
  InterfaceSettings effective = effective_interface_settings(db);
  EXPECT_TRUE(effective.is_set(settings_key::kInterfaceFilter));
  EXPECT_EQ(effective.value(settings_key::kInterfaceFilter), "");
  EXPECT_EQ(effective.value(settings_key::kRawInterfaceFilter), "/f/raw.txt");
  EXPECT_TRUE(effective.value(settings_key::kUseFilterDll));
  EXPECT_TRUE(effective.value(settings_key::kUseFilterDllFile));
  EXPECT_FALSE(effective.is_set(settings_key::kInterfaceFilterDebugFile));
}

}  // namespace
}  // namespace dexweb
