// The interface settings record: defaults, the settings text parser and the overlay.
#include "config/interface_settings.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "config/interface_settings_parser.h"

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
std::int32_t number_of(const InterfaceSettings& s, std::string_view key) { return s.value(id<std::int32_t>(key)); }
bool set_in(const InterfaceSettings& s, std::string_view key) { return s.is_set(*find_setting(key)); }

InterfaceSettings parsed(std::string_view settings, std::string_view subject = {}, std::string_view body = {}) {
  InterfaceSettings record;
  parse_settings(record, settings, subject, body);
  return record;
}

TEST(InterfaceSettings, BooleansAreTrueOnlyForTheWordTrue) {
  EXPECT_TRUE(flag_of(parsed("  UseFilterDLL  =  TRUE  "), "usefilterdll"));
  EXPECT_FALSE(flag_of(parsed("usefilterdll=yes"), "usefilterdll"));
  EXPECT_FALSE(flag_of(parsed("usefilterdll=1"), "usefilterdll"));
  InterfaceSettings empty = parsed("smtpsendreset=");
  EXPECT_TRUE(set_in(empty, "smtpsendreset"));
  EXPECT_FALSE(flag_of(empty, "smtpsendreset"));
}

TEST(InterfaceSettings, NumbersReadTheirLeadingDigitsRoundedHalfToEven) {
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"250ms", 250}, {"abc", 0},  {"2.5", 2},     {"3.5", 4},  {"-2.5", -2}, {"7.51x", 8},
      {"", 0},        {".5", 0},   {"+12", 12},    {"1 2", 1},  {"0x1F", 0},  {"99999999999", 2147483647},
      {"-99999999999", std::numeric_limits<std::int32_t>::min()}};
  for (const auto& [value, expected] : cases)
    EXPECT_EQ(number_of(parsed("pausetime=" + value), "pausetime"), expected) << value;
}

TEST(InterfaceSettings, TextsAreEscapeDecodedExceptTheRawOnes) {
  InterfaceSettings s = parsed(
      "from=a\\013\\010b\r\n"
      "responsepath=C:\\temp\r\n"
      "interfacefilter=C:\\filters\\2019\\web.txt\r\n"
      "rawinterfacefilter=C:\\filters\\300\\web.txt\r\n"
      "to=\\065\\128 \\300 \\299 \\06 \\\\065\r\n"
      "authpassword=\\065\r\n"
      "gsmcmglstring=AT\\065 \r\n"
      "replyto=a=b\r\n"
      "subjectmaxchars=160");
  EXPECT_EQ(text_of(s, "from"), "a\r\nb");
  EXPECT_EQ(text_of(s, "responsepath"), "C:\\temp");
  EXPECT_EQ(text_of(s, "interfacefilter"), "C:\\filters\xC3\x89" "9\\web.txt");  // \201 is É
  EXPECT_EQ(text_of(s, "rawinterfacefilter"), "C:\\filters\\300\\web.txt");
  // Only three-digit codes up to 255 are decoded, 128 to 159 as in Windows-1252.
  EXPECT_EQ(text_of(s, "to"), "A\xe2\x82\xac \\300 \\299 \\06 \\A");
  EXPECT_EQ(text_of(s, "authpassword"), "\\065");
  EXPECT_EQ(text_of(s, "gsmcmglstring"), "AT\\065");
  EXPECT_EQ(text_of(s, "replyto"), "a=b");
  EXPECT_EQ(text_of(s, "subjectmaxchars"), "160");
}

TEST(InterfaceSettings, LinesEndOnlyAtCrLf) {
  InterfaceSettings s = parsed("subjectdelimiter=-\npausechar=*\rfrom=x");
  EXPECT_EQ(text_of(s, "subjectdelimiter"), "-\npausechar=*\rfrom=x");
  EXPECT_FALSE(set_in(s, "pausechar") || set_in(s, "from"));
  EXPECT_EQ(text_of(parsed("SubjectDelimiter = ;\r\n"), "subjectdelimiter"), ";");
}

TEST(InterfaceSettings, UnknownKeysAndLinesWithoutEqualsChangeNoSetting) {
  InterfaceSettings no_equals = parsed("just text\r\n\r\nfrom x");
  EXPECT_FALSE(no_equals.has_content());
  InterfaceSettings unknown = parsed("nosuchkey=1");
  EXPECT_TRUE(unknown.has_content());
  for (std::size_t i = 0; i < kInterfaceSettingCount; ++i) EXPECT_FALSE(unknown.is_set(i));
}

TEST(InterfaceSettings, ALaterLineWinsAndBothSubjectDefaultNamesShareOneSetting) {
  InterfaceSettings s = parsed("from=first\r\nfrom=second\r\nsubjectdefault=a\r\nsmtpsubjectdefault=b");
  EXPECT_EQ(text_of(s, "from"), "second");
  EXPECT_EQ(text_of(s, "subjectdefault"), "b");
  EXPECT_EQ(text_of(parsed("smtpsubjectdefault=b\r\nsubjectdefault=a"), "smtpsubjectdefault"), "a");
}

TEST(InterfaceSettings, OverlayOfASourceWithoutContentDoesNothing) {
  InterfaceSettings source;
  source.set(*find_setting("from"), std::string("x"));
  InterfaceSettings destination;
  overlay(destination, source);
  EXPECT_FALSE(set_in(destination, "from"));
  EXPECT_THROW(source.set(*find_setting("pausetime"), std::string("1")), std::bad_variant_access);
}

}  // namespace
}  // namespace dexweb
