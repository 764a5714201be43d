#include "data/db_object.h"

#include <gtest/gtest.h>

#include "logging/log_state.h"
#include "support/temp_dir.h"

namespace dexweb {
namespace {

class ConnectionFile : public ::testing::Test {
 protected:
  void SetUp() override { reset_process_state(); }
  ServerConnection read(const std::string& text) {
    test::write_text(dir_.file("c.txt"), text);
    return read_connection_file(dir_.file("c.txt"), settings_);
  }
  test::TempDir dir_;
  DatabaseSettings settings_;
};

TEST_F(ConnectionFile, ModuleKeysAreTakenOutAndClausesPassThrough) {
  auto c = read("# site database\r\nDriver={ODBC Driver 18 for SQL Server};\r\n#vtdbretries=9;\r\n"
                "vtSqlIsolation=serializable\r\nServer=db1;\r\n  Database=velotrax;  \r\n");
  EXPECT_EQ(c.connection_string, "Driver={ODBC Driver 18 for SQL Server};\r\nServer=db1;\r\nDatabase=velotrax;\r\n");
  EXPECT_EQ(c.driver_clauses, "Driver={ODBC Driver 18 for SQL Server};Server=db1;Database=velotrax;");
  EXPECT_EQ(settings_.isolation_level, "SERIALIZABLE");
  EXPECT_EQ(settings_.retries, 3);
}

TEST_F(ConnectionFile, LinuxLineEndsBlankLinesAndMissingSemicolons) {
  auto c = read("Driver=x\n\n  \nServer=y;\nvtsqlisolation=chaos\n");
  EXPECT_EQ(c.driver_clauses, "Driver=x;Server=y;");
  EXPECT_EQ(settings_.isolation_level, "READ COMMITTED");
}

TEST_F(ConnectionFile, RegistryWinsOverTheFile) {
  RegistrySettings registry;
  registry.DB_Long_Timeout = 45;
  registry.DB_Long_Timeout_Set = true;
  settings_ = database_settings(registry);
  const DatabaseSettings& r = settings_;
  read("vtdbretries=5;\r\nvtdbshorttimeout=2.6\r\nvtdbmediumtimeout=abc\r\nvtdblongtimeout=90\r\n");
  EXPECT_EQ(r.retries, 5);
  EXPECT_EQ(r.short_timeout, 3);
  EXPECT_EQ(r.medium_timeout, 0);
  EXPECT_EQ(r.long_timeout, 45);
  // Beyond 32 bits a number counts as none, as in the registry (it wrapped to a negative).
  read("vtdbretries=12345678901234567890;\r\nvtdbshorttimeout=4294967297\r\n");
  EXPECT_EQ(r.retries, 0);
  EXPECT_EQ(r.short_timeout, 0);
}

TEST_F(ConnectionFile, EncodedCredentialsBecomeTheLastClauses) {
  // "ab" stored: groups in reverse order, each the bit-reversed code ('b' 98 -> 70, 'a' 97 -> 134).
  auto c = read("vtencryptedpwd=070134;\r\nvtencrypteduid=070134\r\nServer=s;\r\n");
  EXPECT_EQ(c.connection_string, "Server=s;\r\nUID=ab;\r\nPWD=ab;\r\n");
  EXPECT_EQ(c.driver_clauses, "Server=s;UID=ab;PWD=ab;");
}

}  // namespace
}  // namespace dexweb
