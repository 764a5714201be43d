#include "util/string_builder.h"

#include <gtest/gtest.h>

#include "util/runtime_error.h"

namespace dexweb {
namespace {

StringBuilder with_text(std::string_view text) {
  StringBuilder sb;
  sb.Append(text);
  return sb;
}

TEST(StringBuilder, CapacityStartsPageAlignedGrowsByOnePointSixAndClearShrinks) {
  EXPECT_EQ(StringBuilder(65536).InitialSize(), 65536u);
  EXPECT_EQ(StringBuilder(5000).InitialSize(), 20000u);
  EXPECT_THROW(StringBuilder(0), RuntimeError);

  StringBuilder sb(4096);
  sb.Append(std::string(8191, 'x'));  // 16382 bytes and the terminator: exactly full
  EXPECT_EQ(sb.Capacity(), 16384u);
  sb.Append("y");  // 16384 * 1.6 + 2 -> 32768
  EXPECT_EQ(sb.Capacity(), 32768u);
  sb.Append(std::string(20000, 'z'));  // 32768 * 1.6 + 40000 -> 98304
  EXPECT_EQ(sb.Capacity(), 98304u);
  sb.Clear();
  EXPECT_EQ(sb.Capacity(), 16384u);
}

TEST(StringBuilder, AppendAndAppendLineUndo) {
  StringBuilder sb = with_text("abc");
  sb.Append("def");
  sb.Append("");  // changes nothing, not even the undo record
  EXPECT_TRUE(sb.UndoAppend());
  EXPECT_EQ(sb.ToString(), "abc");
  EXPECT_FALSE(sb.UndoAppend());
  sb.AppendLine("");
  EXPECT_EQ(sb.ToString(), "abc\r\n");
}

TEST(StringBuilder, InsertOverwriteRemoveAndTheirUndo) {
  StringBuilder sb = with_text("abc");
  sb.Insert(0, "X");
  sb.Insert(5, "X");
  sb.Insert(4, "d");
  EXPECT_EQ(sb.ToString(), "abcd");
  EXPECT_FALSE(sb.UndoRemove());
  EXPECT_TRUE(sb.UndoInsert());

  sb.Overwrite(3, "XYZ");
  EXPECT_EQ(sb.ToString(), "abXYZ");
  EXPECT_TRUE(sb.UndoOverwrite());
  EXPECT_EQ(sb.ToString(), "abcYZ");

  sb.SetStringData("abcdef");
  sb.Remove(2, 100);
  EXPECT_EQ(sb.ToString(), "a");
  EXPECT_TRUE(sb.UndoRemove());
  EXPECT_EQ(sb.ToString(), "abcdef");
  EXPECT_FALSE(sb.Undo());
}

}  // namespace
}  // namespace dexweb
