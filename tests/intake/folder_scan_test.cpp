// How check_for_messages takes files from the watched folder: which, in what order, within
// what time, and what it leaves there.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "intake/intake_harness.h"

namespace dexweb::test {
namespace {

class FolderScan : public IntakeTest {
 protected:
  void SetUp() override { h.add_user("sales"); }
};

TEST_F(FolderScan, AHundredFilesAreTakenPerPollOldestFirst) {
  std::map<std::string, int> age_of;  // message text -> age of its file
  for (int i = 0; i < 150; ++i) {
    const int age = 1000 + (i * 7919) % 150;  // distinct ages in scrambled order
    const std::string text = "m" + std::to_string(i);
    h.write_web_file("f" + std::to_string(i) + ".msg", "user=sales\r\nmsg=" + text + "\r\n", age);
    age_of[text] = age;
  }
  EXPECT_TRUE(h.poll());
  auto rows = h.rows();
  ASSERT_EQ(rows.size(), 100u);
  EXPECT_EQ(h.web_files().size(), 50u);
  for (std::size_t i = 1; i < rows.size(); ++i)
    EXPECT_GT(age_of[rows[i - 1].message], age_of[rows[i].message]) << "row " << i;

  EXPECT_TRUE(h.poll());
  EXPECT_EQ(h.rows().size(), 150u);
  EXPECT_FALSE(h.poll());
}

TEST_F(FolderScan, OnlyMessageFilesAreTaken) {
  h.write_web_file("upper.MSG", "user=sales\r\nmsg=hi\r\n");
  h.write_web_file("half.msg.tmp123", "user=sales\r\nmsg=hi\r\n");
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(h.rows().size(), 1u);
  EXPECT_EQ(h.web_files(), std::vector<std::string>{"half.msg.tmp123"});
  EXPECT_FALSE(h.poll());
}

TEST_F(FolderScan, AnUnreachableFolderIsReportedOnTheFirstPollOnly) {
  h.settings.dexwebcgi_path = h.web.dir() + "missing/";
  EXPECT_FALSE(h.poll());
  EXPECT_FALSE(h.poll());
  EXPECT_EQ(h.count_logged("Unable to access folder: " + h.web.dir() + "missing/"), 1);
}

TEST_F(FolderScan, AFolderWithoutItsEndingSlashStillNamesItsFiles) {
  h.settings.dexwebcgi_path = h.web.dir().substr(0, h.web.dir().size() - 1);
  h.write_message("a.msg", "sales", "", "hi");
  EXPECT_TRUE(h.poll());
  EXPECT_EQ(h.rows().size(), 1u);
  EXPECT_TRUE(h.web_files().empty());
}

TEST_F(FolderScan, AFileThatCannotBeReadIsKeptAndNotTriedAgain) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  const std::string path = h.web.file("locked.msg");
  write_text(path, "user=bob\r\nmsg=hi");
  ::chmod(path.c_str(), 0);
  EXPECT_TRUE(h.poll());
  EXPECT_TRUE(h.logged("Unable to read web file: " + path));
  EXPECT_EQ(h.web_files(), std::vector<std::string>{"locked.msg"});
  EXPECT_TRUE(h.bad_copies().empty());
  EXPECT_FALSE(h.poll());
  EXPECT_EQ(h.count_logged("Unable to read web file: " + path), 1);
}

}  // namespace
}  // namespace dexweb::test
