// The settings the module reads: registry values as settings, and the interface settings
// record with its text parser.
#include <gtest/gtest.h>

#include <stdexcept>

#include "config/interface_settings.h"
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

// A flag is true only for the word true; a number sets its flag only when it is not zero.
TEST_F(RegistrySettingsTest, FlagsAreTrueOnlyForTheWordTrueAndNumbersAreSetOnlyWhenNonZero) {
  RegistrySettings zero = read("\"SyncTimeWithServer\"=\" TRUE \"\r\n\"DB_Long_Timeout\"=\"0\"\r\n\"DB_Retries\"=\"abc\"\r\n");
  EXPECT_TRUE(zero.SyncTimeWithServer);
  EXPECT_EQ(zero.DB_Long_Timeout, 20);
  EXPECT_FALSE(zero.DB_Long_Timeout_Set);
  EXPECT_EQ(zero.DB_Retries, 3);
  EXPECT_FALSE(zero.DB_Retries_Set);

  RegistrySettings set =
      read("\"SyncTimeWithServer\"=\"yes\"\r\n\"DB_Long_Timeout\"=\"45\"\r\n\"DB_Short_Timeout\"=dword:0000000a\r\n");
  EXPECT_FALSE(set.SyncTimeWithServer);
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

// ---- the interface settings ----

template <typename T>
SettingId<T> id(std::string_view key) {
  std::optional<std::size_t> index = find_setting(key);
  if (!index) throw std::invalid_argument(std::string(key));
  return {*index};
}
std::string text_of(const InterfaceSettings& s, std::string_view key) { return s.value(id<std::string>(key)); }
bool flag_of(const InterfaceSettings& s, std::string_view key) { return s.value(id<bool>(key)); }
bool set_in(const InterfaceSettings& s, std::string_view key) { return s.is_set(*find_setting(key)); }

InterfaceSettings parsed(std::string_view settings) {
  InterfaceSettings record;
  parse_settings(record, settings, {}, {});
  return record;
}

// The daemon reads only its filters' settings: texts (escape-decoded) and flags.
TEST(InterfaceSettings, BooleansAreTrueOnlyForTheWordTrue) {
  EXPECT_TRUE(flag_of(parsed("  UseFilterDLL  =  TRUE  "), "usefilterdll"));
  for (const std::string value : {"yes", "1", ""})
    EXPECT_FALSE(flag_of(parsed("usefilterdll=" + value), "usefilterdll")) << value;
  EXPECT_TRUE(set_in(parsed("usefilterdllfile="), "usefilterdllfile"));
}

TEST(InterfaceSettings, TextsAreEscapeDecoded) {
  InterfaceSettings s = parsed(
      "interfacefilter=C:\\filters\\2019\\web.txt\r\n"
      "rawinterfacefilter=C:\\filters\\300\\web.txt\r\n"
      "interfacefilterdebugfile=\\065\\128 \\300 \\299 \\06 \\\\065\r\n"
      "rawinterfacefilterdebugfile=a=b");
  EXPECT_EQ(text_of(s, "interfacefilter"), "C:\\filters\xC3\x89" "9\\web.txt");  // \201 is É
  EXPECT_EQ(text_of(s, "rawinterfacefilter"), "C:\\filters\\300\\web.txt");
  // Only three-digit codes up to 255 are decoded, 128 to 159 as in Windows-1252.
  EXPECT_EQ(text_of(s, "interfacefilterdebugfile"), "A\xe2\x82\xac \\300 \\299 \\06 \\A");
  EXPECT_EQ(text_of(s, "rawinterfacefilterdebugfile"), "a=b");
}

// Only CR LF ends a line; a later line wins; unknown keys and lines without "=" set nothing.
TEST(InterfaceSettings, LinesEndOnlyAtCrLfALaterLineWinsAndOtherLinesSetNothing) {
  InterfaceSettings s = parsed("interfacefilter=-\nusefilterdll=true\rfrom=x");
  EXPECT_EQ(text_of(s, "interfacefilter"), "-\nusefilterdll=true\rfrom=x");
  EXPECT_FALSE(set_in(s, "usefilterdll") || set_in(s, "from"));
  EXPECT_EQ(text_of(parsed("InterfaceFilter = first\r\ninterfacefilter=second\r\n"), "interfacefilter"), "second");
  EXPECT_FALSE(parsed("just text\r\n\r\nfrom x").has_content());
  InterfaceSettings unknown = parsed("nosuchkey=1");
  EXPECT_TRUE(unknown.has_content());
  for (std::size_t i = 0; i < kInterfaceSettingCount; ++i) EXPECT_FALSE(unknown.is_set(i));
}

}  // namespace
}  // namespace dexweb
