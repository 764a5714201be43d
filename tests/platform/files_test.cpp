#include "platform/folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/private_files.h"
#include "platform/process.h"
#include "support/temp_dir.h"

namespace dexweb::platform {
namespace {

TEST(FolderEntryTest, AnEntryIsWorkedAsOpenedNeverThroughItsNameAgain) {
  test::TempDir dir;
  const std::string path = dir.file("a.msg");
  test::write_text(path, "first");
  FolderEntry entry = FolderEntry::open(path);
  ASSERT_EQ(entry.status(), FolderEntry::Status::Opened);
  EXPECT_EQ(entry.writer(), WriterState::Closed);
  // Another file takes the name: the opened one is still read, and the newcomer is not deleted.
  ASSERT_EQ(::rename(path.c_str(), dir.file("moved").c_str()), 0);
  test::write_text(path, "second");
  EXPECT_EQ(entry.read(100), "first");
  EXPECT_FALSE(entry.remove_if_same());
  EXPECT_EQ(test::read_text(path), "second");

  ASSERT_EQ(::symlink(path.c_str(), dir.file("link.msg").c_str()), 0);
  EXPECT_EQ(FolderEntry::open(dir.file("link.msg")).status(), FolderEntry::Status::NotRegular);
  EXPECT_EQ(FolderEntry::open(dir.file("none.msg")).status(), FolderEntry::Status::Gone);
}

TEST(InstanceLockTest, OneHolderPerDataFolderWhateverTheNameItIsGivenBy) {
  test::TempDir dir;
  const std::string folder = home_private_folder(dir.dir());
  EXPECT_EQ(folder, dir.dir() + "lock/");
  auto first = std::make_unique<InstanceLock>(folder);
  ASSERT_TRUE(first->acquired());
  EXPECT_EQ(InstanceLock::holder(folder).pid, ::getpid());
  // The same folder through another spelling of its path is the same home.
  EXPECT_EQ(InstanceLock(home_private_folder(dir.dir() + "./")).state(), InstanceLock::State::HeldElsewhere);
  first.reset();
  EXPECT_EQ(InstanceLock::holder(folder).pid, std::nullopt);
  EXPECT_TRUE(InstanceLock(folder).acquired());
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A folder that cannot be made is reported as such, never as another instance.
  test::write_text(dir.file("plain"), "");
  EXPECT_EQ(InstanceLock(dir.file("plain") + "/lock").state(), InstanceLock::State::CannotOpen);
}

TEST(CommandLineSplit, QuotesGroupWordsAndAreRemoved) {
  EXPECT_EQ(split_command_line("  \"/opt/my tool\" -a \"b c\"d  e "),
            (std::vector<std::string>{"/opt/my tool", "-a", "b cd", "e"}));
  EXPECT_EQ(split_command_line("x \"\""), (std::vector<std::string>{"x", ""}));
}

}  // namespace
}  // namespace dexweb::platform
