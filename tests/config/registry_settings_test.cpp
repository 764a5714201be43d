
#include <gtest/gtest.h>

#include "config/registry.h"
#include "support/temp_dir.h"

namespace dexweb {
namespace {

class RegistrySettingsTest : public ::testing::Test {
 protected:
  RegistrySettings read(const std::string& main_values, const std::string& services = "") {
    test::write_text(path_, test::registry_text(main_values, services));
    return read_registry_settings(platform::RegistryFile(path_));
  }
  test::TempDir dir_;
  std::string path_ = dir_.file("velotrax.reg");
};

TEST_F(RegistrySettingsTest, SyncTimeWithServerIsTrueOnlyForTheWordTrue) {
  EXPECT_TRUE(read("\"SyncTimeWithServer\"=\" TRUE \"\r\n").SyncTimeWithServer);
  EXPECT_FALSE(read("\"SyncTimeWithServer\"=\"\"\r\n").SyncTimeWithServer);
  EXPECT_FALSE(read("\"SyncTimeWithServer\"=\"yes\"\r\n").SyncTimeWithServer);
}

TEST_F(RegistrySettingsTest, NumericValuesSetTheirFlagOnlyWhenNonZero) {
  RegistrySettings zero = read("\"DB_Long_Timeout\"=\"0\"\r\n\"DB_Retries\"=\"abc\"\r\n");
  EXPECT_EQ(zero.DB_Long_Timeout, 20);
  EXPECT_FALSE(zero.DB_Long_Timeout_Set);
  EXPECT_EQ(zero.DB_Retries, 3);
  EXPECT_FALSE(zero.DB_Retries_Set);

  RegistrySettings set = read("\"DB_Long_Timeout\"=\"45\"\r\n\"DB_Short_Timeout\"=dword:0000000a\r\n");
  EXPECT_EQ(set.DB_Long_Timeout, 45);
  EXPECT_TRUE(set.DB_Long_Timeout_Set);
  EXPECT_EQ(set.DB_Short_Timeout, 10);
  EXPECT_TRUE(set.DB_Short_Timeout_Set);
}

// A copy read again (SIGHUP) keeps the home, the database and the run type the run holds.
TEST_F(RegistrySettingsTest, ARereadKeepsWhatTheRunIsBoundTo) {
  const RegistrySettings start = read("\"DB_Dir\"=\"/a/\"\r\n\"Instant_Pickup\"=\"true\"\r\n");
  RegistrySettings again = read("\"DB_Dir\"=\"/b/\"\r\n\"Instant_Pickup\"=\"false\"\r\n");
  EXPECT_EQ(again.keep_run_bound(start), "DB_Dir");
  EXPECT_EQ(again.DB_Dir, "/a/");
  EXPECT_FALSE(again.Instant_Pickup);
}

TEST_F(RegistrySettingsTest, KeysAndNamesIgnoreCaseAndEscapesAreDecoded) {
  test::write_text(path_,
                   "REGEDIT4\n\n[hkey_local_machine\\software\\wyndrose\\velotrax]\n"
                   "; a comment\n\"db_dir\"=\"/var/lib/\\\"velotrax\\\"\\\\\"\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax\\Services]\n"
                   "\"Run_Type\"=\"NTService\"\n");
  RegistrySettings s = read_registry_settings(platform::RegistryFile(path_));
  EXPECT_EQ(s.DB_Dir, "/var/lib/\"velotrax\"\\");
  EXPECT_EQ(s.Run_Type, "NTService");
  EXPECT_EQ(query_value(platform::RegistryFile(path_), kVelotraxKey, "Missing"), "");
}

}  // namespace
}  // namespace dexweb
