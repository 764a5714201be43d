// A message whose rows cannot all be written leaves nothing behind and stays in the folder,
// so that working it again pages nobody twice.
#include <gtest/gtest.h>

#include "intake/intake_harness.h"
#include "logging/error_policy.h"

namespace dexweb::test {
namespace {

TEST_F(IntakeTest, AFailureBetweenTheRowsOfAMessageLeavesNoRowAndKeepsTheFile) {
  for (const char* name : {"sales", "bob", "amy"}) h.add_user(name);
  h.database->exec(
      "CREATE TRIGGER refuse_amy BEFORE INSERT ON messages WHEN NEW.user = 'amy' "
      "BEGIN SELECT RAISE(ABORT, 'amy refused'); END");
  h.write_message("a.msg", "sales", "bob amy", "hi");
  // The error routine halts the module on a database error that its retries did not cure.
  EXPECT_THROW(h.poll(), ModuleHalted);
  EXPECT_TRUE(h.rows().empty());
  EXPECT_EQ(h.web_files(), std::vector<std::string>{"a.msg"});

  h.database->exec("DROP TRIGGER refuse_amy");
  EXPECT_TRUE(h.poll());
  ASSERT_EQ(h.rows().size(), 3u);
  EXPECT_EQ(h.rows()[2].user, "amy");
  EXPECT_TRUE(h.web_files().empty());
}

}  // namespace
}  // namespace dexweb::test
