// The interface settings record and the settings text parser.
#include "config/interface_settings.h"

#include <gtest/gtest.h>

#include <stdexcept>


namespace dexweb {
namespace {

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

TEST(InterfaceSettings, LinesEndOnlyAtCrLfAndALaterLineWins) {
  InterfaceSettings s = parsed("interfacefilter=-\nusefilterdll=true\rfrom=x");
  EXPECT_EQ(text_of(s, "interfacefilter"), "-\nusefilterdll=true\rfrom=x");
  EXPECT_FALSE(set_in(s, "usefilterdll") || set_in(s, "from"));
  EXPECT_EQ(text_of(parsed("InterfaceFilter = first\r\ninterfacefilter=second\r\n"), "interfacefilter"), "second");
}

TEST(InterfaceSettings, UnknownKeysAndLinesWithoutEqualsChangeNoSetting) {
  InterfaceSettings no_equals = parsed("just text\r\n\r\nfrom x");
  EXPECT_FALSE(no_equals.has_content());
  InterfaceSettings unknown = parsed("nosuchkey=1");
  EXPECT_TRUE(unknown.has_content());
  for (std::size_t i = 0; i < kInterfaceSettingCount; ++i) EXPECT_FALSE(unknown.is_set(i));
}

}  // namespace
}  // namespace dexweb
