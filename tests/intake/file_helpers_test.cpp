#include "intake/file_helpers.h"

#include <gtest/gtest.h>

#include "intake/intake_harness.h"
#include "support/temp_dir.h"

namespace dexweb::test {
namespace {

TEST(FileHelpers, DeletingAPatternTakesOnlyTheMatchingFiles) {
  TempDir dir;
  for (const char* name : {"VTXWeb1.tmp", "vtxweb22.TMP", "VTXWeb1.tmp.keep", "other.tmp"}) write_text(dir.file(name), "x");
  EXPECT_TRUE(DeleteFileWithRetries(dir.file("VTXWeb*.tmp"), 1, 0));
  EXPECT_EQ(files_in(dir.dir()), (std::vector<std::string>{"VTXWeb1.tmp.keep", "other.tmp"}));
  EXPECT_TRUE(DeleteFileWithRetries(dir.file("missing"), 1, 0));
  EXPECT_FALSE(DeleteFileWithRetries(dir.dir(), 2, 0));  // a folder is no file
}

TEST(FileHelpers, CopyingNeedsASourceFile) {
  TempDir dir;
  EXPECT_FALSE(CopyFileWithRetries(dir.file("missing"), dir.file("copy"), 3, 0));
  write_text(dir.file("a"), "bytes");
  EXPECT_TRUE(CopyFileWithRetries(dir.file("a"), dir.file("copy"), 3, 0));
  EXPECT_EQ(read_text(dir.file("copy")), "bytes");
  EXPECT_FALSE(CopyFileWithRetries(dir.file("a"), dir.file("no/folder/copy"), 2, 0));
}

}  // namespace
}  // namespace dexweb::test
