#include "shell/command_line.h"

#include <gtest/gtest.h>

namespace dexweb {

TEST(CommandLine, OptionAloneHasNoAccount) {
  CommandLine cl = parse_command_line("  install  ");
  EXPECT_EQ(cl.option, "install");
  EXPECT_FALSE(cl.account_given);
  EXPECT_EQ(cl.account, "");
}

TEST(CommandLine, AccountAndPasswordSplitAtFirstBlanks) {
  CommandLine domain = parse_command_line("install CORP\\pager s3cret");
  EXPECT_EQ(domain.account, "CORP\\pager");
  EXPECT_EQ(domain.password, "s3cret");
  EXPECT_TRUE(domain.account_given);

  CommandLine bare = parse_command_line("install bob");
  EXPECT_EQ(bare.account, ".\\bob");
  EXPECT_EQ(bare.password, "");

  // Third and later words all belong to the password.
  CommandLine extra = parse_command_line("install   bob   pass word  here ");
  EXPECT_EQ(extra.account, ".\\bob");
  EXPECT_EQ(extra.password, "pass word  here");
}

}  // namespace dexweb
