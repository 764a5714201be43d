// The string builder's rules: how capacity grows and shrinks, where Find finds (tokens,
// case), what SearchAndReplace replaces, and what each undo restores.
#include "util/string_builder.h"

#include <gtest/gtest.h>

#include "util/runtime_error.h"

namespace dexweb {
namespace {

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
  // The log's shared builder is cleared before every line: nothing of the last one stays.
  sb.Clear();
  EXPECT_EQ(sb.Capacity(), 16384u);
  sb.Append("next");
  EXPECT_EQ(sb.ToString(), "next");
}

TEST(StringBuilder, FindCountsCharactersAndFindsTokensBetweenDelimiters) {
  StringBuilder sb;
  sb.Append("Grüße,ab,AB,b");
  struct Case {
    long start;
    const char* search;
    const char* delimiter;
    int compare;
    long found;
  };
  for (const Case& c : {Case{1, "ab", "", 0, 7}, Case{1, "ab", "", StringBuilder::kTextCompare, 7},
                        Case{8, "ab", "", StringBuilder::kTextCompare, 10}, Case{1, "b", ",", 0, 13},
                        Case{1, "grüße", ",", StringBuilder::kTextCompare, 1}, Case{2, "Grüße", ",", 0, 0},
                        Case{1, "a", ",", 0, 0}, Case{0, "ab", "", 0, 0}, Case{14, "b", "", 0, 0}})
    EXPECT_EQ(sb.Find(c.start, c.search, c.delimiter, c.compare), c.found) << c.start << " " << c.search;
  EXPECT_EQ(sb.ToStringMid(3, 3), "üße");
  EXPECT_EQ(sb.ToStringLeft(2) + "|" + sb.ToStringRight(4), "Gr|AB,b");
}

TEST(StringBuilder, SearchAndReplaceDoesNotSearchItsReplacement) {
  StringBuilder sb;
  sb.Append("aXa");
  sb.SearchAndReplace("a", "aa");
  EXPECT_EQ(sb.ToString(), "aaXaa");
  sb.SearchAndReplace("x", "-", StringBuilder::kTextCompare);
  sb.SearchAndReplace("A", "b");
  EXPECT_EQ(sb.ToString(), "aa-aa");
}

TEST(StringBuilder, EachUndoRestoresItsOwnChangeOnce) {
  StringBuilder sb;
  sb.Append("abc");
  sb.Append("def");
  sb.Append("");  // changes nothing, not even the undo record
  EXPECT_FALSE(sb.UndoInsert());
  EXPECT_TRUE(sb.UndoAppend());
  EXPECT_EQ(sb.ToString(), "abc");
  EXPECT_FALSE(sb.Undo());

  sb.Insert(0, "X");
  sb.Insert(5, "X");  // out of range: nothing
  sb.Insert(4, "d");
  EXPECT_EQ(sb.ToString(), "abcd");
  EXPECT_TRUE(sb.UndoInsert());
  EXPECT_EQ(sb.ToString(), "abc");

  sb.Overwrite(3, "XYZ");
  EXPECT_EQ(sb.ToString(), "abXYZ");
  EXPECT_TRUE(sb.UndoOverwrite());  // writes back only what it covered
  EXPECT_EQ(sb.ToString(), "abcYZ");

  sb.SetStringData("abcdef");
  sb.Remove(2, 100);
  EXPECT_EQ(sb.ToString(), "a");
  EXPECT_TRUE(sb.UndoRemove());
  EXPECT_EQ(sb.ToString(), "abcdef");
  EXPECT_FALSE(sb.Undo());
  sb.AppendLine("");
  EXPECT_EQ(sb.ToString(), "abcdef\r\n");
}

}  // namespace
}  // namespace dexweb
