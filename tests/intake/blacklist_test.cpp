#include "intake/blacklist.h"

#include <gtest/gtest.h>

#include "logging/log_state.h"
#include "support/temp_dir.h"

namespace dexweb {
namespace {

TEST(BlackListEntry, TheNumberAtTheStartOfTheLine) {
  EXPECT_EQ(blacklist_entry("12-34"), "12");
  EXPECT_EQ(blacklist_entry("1 2 3"), "123");
  EXPECT_EQ(blacklist_entry("  0451 # office"), "451");
  EXPECT_EQ(blacklist_entry(""), "0");
  EXPECT_EQ(blacklist_entry("none"), "0");
  EXPECT_EQ(blacklist_entry("-7"), "-7");
  EXPECT_EQ(blacklist_entry("1.5x"), "1.5");
}

class BlackListFile : public ::testing::Test {
 protected:
  BlackListFile() {
    reset_process_state();
  }
  ~BlackListFile() override { reset_process_state(); }
  test::TempDir dir;
  BlackList list;
};

TEST_F(BlackListFile, NoFileNoEntriesAndALongFileKeepsItsFirst100) {
  list.load(dir.dir());
  EXPECT_EQ(list.blacklist_count(), 0);
  EXPECT_FALSE(list.in_blacklist("0"));

  std::string lines;
  for (int i = 1; i <= 150; ++i) lines += std::to_string(1000 + i) + "\r\n";
  test::write_text(dir.file("blacklist"), lines);
  list.load(dir.dir());
  EXPECT_EQ(list.blacklist_count(), 100);
  EXPECT_TRUE(list.in_blacklist("1100"));
  EXPECT_FALSE(list.in_blacklist("1101"));
}

}  // namespace
}  // namespace dexweb
