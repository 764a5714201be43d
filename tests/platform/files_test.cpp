#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/instance_lock.h"
#include "platform/process.h"
#include "support/temp_dir.h"
#include "util/runtime_error.h"

namespace dexweb::platform {
namespace {

TEST(Files, FailuresCarryFileErrorNumbers) {
  test::TempDir dir;
  try {
    read_file(dir.file("missing"));
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 53);
  }
  try {
    append_file(dir.file("no/such/folder/x"), "a");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 53);
  }
  EXPECT_NO_THROW(remove_file(dir.file("missing")));
}

TEST(Files, FixedNamesAreFoundWithoutRegardToCase) {
  test::TempDir dir;
  test::write_text(dir.file("SQLServerConnectionString.TXT"), "x");
  EXPECT_EQ(resolve_name_nocase(dir.dir(), "SqlServerConnectionString.txt"),
            dir.file("SQLServerConnectionString.TXT"));
  EXPECT_EQ(resolve_name_nocase(dir.dir(), "velotrax.db"), dir.file("velotrax.db"));
}

TEST(Files, AFileOpenForWritingElsewhereIsLocked) {
  test::TempDir dir;
  std::string path = dir.file("a.msg");
  test::write_text(path, "user=x");
  EXPECT_FALSE(file_is_locked(path));
  int ready[2], done[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(done), 0);
  pid_t child = ::fork();
  if (child == 0) {  // a writer in another process that holds the file open
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
    char c;
    (void)!::write(ready[1], "r", 1);
    (void)!::read(done[0], &c, 1);
    ::close(fd);
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_TRUE(file_is_locked(path));
  (void)!::write(done[1], "g", 1);
  ::waitpid(child, nullptr, 0);
  EXPECT_FALSE(file_is_locked(path));
  for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
}

TEST(Files, AtomicWriteReplacesWholeFile) {
  test::TempDir dir;
  write_file_atomic(dir.file("f"), "one");
  write_file_atomic(dir.file("f"), "two");
  EXPECT_EQ(read_file(dir.file("f")), "two");
  EXPECT_EQ(read_file(dir.file("f"), 2), "tw");
  EXPECT_EQ(list_files(dir.dir(), ".tmp").size(), 0u);
}

TEST(Files, PipesInAFolderAreNeitherListedNorWaitedFor) {
  test::TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("stuck.msg").c_str(), 0644), 0);
  test::write_text(dir.file("real.MSG"), "x");
  auto listed = list_files(dir.dir(), ".msg");
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].name, "real.MSG");
  EXPECT_THROW(read_file(dir.file("stuck.msg")), RuntimeError);
}

TEST(InstanceLockTest, SecondHolderIsRefusedUntilTheFirstLetsGo) {
  auto first = std::make_unique<InstanceLock>("/some/exe/path");
  EXPECT_TRUE(first->acquired());
  EXPECT_FALSE(InstanceLock("/some/exe/path").acquired());
  EXPECT_TRUE(InstanceLock("/another/exe").acquired());
  first.reset();
  EXPECT_TRUE(InstanceLock("/some/exe/path").acquired());
}

TEST(CommandLineSplit, QuotesGroupWordsAndAreRemoved) {
  EXPECT_EQ(split_command_line("  \"/opt/my tool\" -a \"b c\"d  e "),
            (std::vector<std::string>{"/opt/my tool", "-a", "b cd", "e"}));
  EXPECT_EQ(split_command_line("x \"\""), (std::vector<std::string>{"x", ""}));
}

}  // namespace
}  // namespace dexweb::platform
