#include "platform/registry_file.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "support/temp_dir.h"
#include "util/runtime_error.h"

namespace dexweb::test {
namespace {

using platform::RegData;
using platform::RegistryFile;

const std::string kMain = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wyndrose\\Velotrax";

using Probe = std::pair<std::string, std::string>;  // key, value name

std::map<Probe, std::optional<RegData>> read_all(const RegistryFile& reg, const std::vector<Probe>& probes) {
  std::map<Probe, std::optional<RegData>> values;
  for (const Probe& p : probes) values[p] = reg.read(p.first, p.second);
  return values;
}

// Bare CRs end lines just as LF does, and "[]" is a key line: whatever a file means when
// read, it still means after a value is written into it.
TEST(RegistryFile, WritingAValueChangesNoOtherValue) {
  TempDir dir;
  RegistryFile reg(dir.file("velotrax.reg"));
  write_text(reg.path(),
             "Windows Registry Editor Version 5.00\n\n[" + kMain + "]\n\"Prog_Dir\"=\"/opt/v/\"\n"
             "[]\r\r\n\"Log_Dir\"=\"/log/\"\r\n"
             "[" + kMain + "\\Monitor]\r\"VTM_Port\"=dword:00001ce8\r\n"
             "[" + kMain + "]\n\"DB_Dir\"=\"/second/section/\"\n");
  const std::vector<Probe> probes = {{kMain, "Prog_Dir"}, {kMain, "Log_Dir"},  {"", "Log_Dir"},
                                     {kMain, "DB_Dir"},   {kMain, "Run_Type"}, {kMain + "\\Monitor", "VTM_Port"}};
  auto before = read_all(reg, probes);
  EXPECT_EQ(before.at(Probe("", "Log_Dir")), RegData(std::string("/log/")));
  EXPECT_EQ(before.at(Probe(kMain + "\\Monitor", "VTM_Port")), RegData(std::uint32_t{7400}));
  EXPECT_FALSE(before.at(Probe(kMain, "Log_Dir")));

  reg.write(kMain, "Run_Type", std::string("Application"));
  reg.write(kMain, "db_dir", std::string("/new/"));  // lands where it was read from
  auto after = read_all(reg, probes);
  EXPECT_EQ(read_text(reg.path()).find("/second/section/"), std::string::npos);
  EXPECT_EQ(after.at(Probe(kMain, "Run_Type")), RegData(std::string("Application")));
  EXPECT_EQ(after.at(Probe(kMain, "DB_Dir")), RegData(std::string("/new/")));
  for (const Probe& p : probes) {
    if (p.second == "Run_Type" || p.second == "DB_Dir") continue;
    EXPECT_EQ(after[p], before[p]) << p.first << " " << p.second;
  }

  // A line end inside a value would add lines (here a key line) when read back.
  EXPECT_THROW(reg.write(kMain, "Prog_Dir", std::string("/x/\n[]\n\"Log_Dir\"=\"/y/\"")), RuntimeError);
  EXPECT_EQ(read_all(reg, probes), after);
}

TEST(RegistryFile, ARepeatedByteOrderMarkIsNoPartOfTheFirstLine) {
  TempDir dir;
  RegistryFile reg(dir.file("velotrax.reg"));
  write_text(reg.path(), "\xEF\xBB\xBF\xEF\xBB\xBF[" + kMain + "]\r\n\"Prog_Dir\"=\"/opt/v/\"\r\n");
  EXPECT_EQ(reg.read(kMain, "Prog_Dir"), RegData(std::string("/opt/v/")));
  reg.write(kMain, "Log_Dir", std::string("/log/"));
  EXPECT_EQ(reg.read(kMain, "Prog_Dir"), RegData(std::string("/opt/v/")));
}

TEST(RegistryFile, LoneSurrogatesInUtf16BecomeReplacementCharacters) {
  TempDir dir;
  RegistryFile reg(dir.file("velotrax.reg"));
  std::u16string text = u"Windows Registry Editor Version 5.00\r\n[K]\r\n\"High\"=\"a\xD800z\"\r\n"
                        u"\"Low\"=\"a\xDC00z\"\r\n\"HighAtEnd\"=\"a\"\r\n\"Pair\"=\"\xD83D\xDE00\"\r\n\"Last\"=\"\xD800";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  write_text(reg.path(), bytes);
  EXPECT_EQ(reg.read("K", "High"), RegData(std::string("a\xEF\xBF\xBDz")));
  EXPECT_EQ(reg.read("K", "Low"), RegData(std::string("a\xEF\xBF\xBDz")));
  EXPECT_EQ(reg.read("K", "Pair"), RegData(std::string("\xF0\x9F\x98\x80")));
  EXPECT_EQ(reg.read("K", "Last"), RegData(std::string("\xEF\xBF\xBD")));

  // Written back as UTF-8, the file reads the same.
  reg.write("K", "Added", std::string("x"));
  EXPECT_EQ(reg.read("K", "High"), RegData(std::string("a\xEF\xBF\xBDz")));
  EXPECT_EQ(reg.read("K", "Low"), RegData(std::string("a\xEF\xBF\xBDz")));
}

}  // namespace
}  // namespace dexweb::test
