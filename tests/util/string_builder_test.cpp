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

TEST(StringBuilder, PositionsAndLengthsCountCodePoints) {
  StringBuilder sb = with_text("h\xc3\xa9llo \xe2\x82\xac!");
  EXPECT_EQ(sb.Length(), 8);
  EXPECT_EQ(sb.ToStringLeft(2), "h\xc3\xa9");
  EXPECT_EQ(sb.ToStringRight(20), "h\xc3\xa9llo \xe2\x82\xac!");
  EXPECT_EQ(sb.ToStringMid(2, 4), "\xc3\xa9llo");
  EXPECT_EQ(sb.ToStringMid(9, 1), "");
  EXPECT_EQ(sb.Find(1, "\xe2\x82\xac"), 7);
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

TEST(StringBuilder, Find) {
  StringBuilder sb = with_text("abcABCabc");
  EXPECT_EQ(sb.Find(1, "ABC"), 4);
  EXPECT_EQ(sb.Find(5, "ABC", "", StringBuilder::kTextCompare), 7);
  EXPECT_EQ(sb.Find(11, "a"), 0);
  EXPECT_EQ(with_text("a;b;c").Find(1, "b", ";"), 3);
  EXPECT_EQ(with_text("b;c").Find(1, "b", ";"), 1);
  EXPECT_EQ(with_text("a;bc").Find(1, "b", ";"), 0);
  EXPECT_EQ(with_text("a;b").Find(1, "b", ";"), 3);
  EXPECT_EQ(with_text("x;b").Find(4, "b", ";"), 0);
}

TEST(StringBuilder, SearchAndReplaceNeverSearchesReplacementText) {
  StringBuilder sb = with_text("aXa");
  sb.SearchAndReplace("a", "aa");
  EXPECT_EQ(sb.ToString(), "aaXaa");
  StringBuilder folded = with_text("%NAME%, %name%-");
  folded.SearchAndReplace("%Name%", "", StringBuilder::kTextCompare);
  EXPECT_EQ(folded.ToString(), ", -");
}

}  // namespace
}  // namespace dexweb
