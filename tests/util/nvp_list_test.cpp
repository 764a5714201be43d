#include "util/nvp_list.h"

#include <gtest/gtest.h>

#include <vector>

#include "util/runtime_error.h"

namespace dexweb {
namespace {

using Names = std::vector<std::string>;

Names names(const NVPList& list) {
  Names out;
  for (int i = 1; i <= list.Count(); ++i) out.push_back(list.GetNameByIndex(i));
  return out;
}

NVPList list_of(const Names& item_names, bool case_sensitive = true) {
  NVPList list;
  list.SetCaseSensitive(case_sensitive);
  for (const auto& n : item_names) list.Add(n);
  return list;
}

int error_number(auto&& call) {
  try {
    call();
  } catch (const RuntimeError& e) {
    return e.number();
  }
  return 0;
}

TEST(NVPList, StorageGrowsAtTheFirstEleventhAndTwentyFirstItem) {
  NVPList list;
  std::vector<int> grew_at;
  for (int i = 1; i <= 25; ++i) {
    std::size_t before = list.Capacity();
    list.Add("n", i);
    if (list.Capacity() != before) grew_at.push_back(i);
  }
  EXPECT_EQ(grew_at, (std::vector<int>{1, 11, 21}));
  list.Clear();
  EXPECT_EQ(list.Capacity(), 0u);
}

TEST(NVPList, ValuesComeBackConvertedToTheirTypeCode) {
  NVPList list;
  list.Add("forced", std::string("42"), vt::kLong);
  list.Add("bad", std::string("abc"), vt::kLong);
  list.Add("empty");
  EXPECT_EQ(list.GetValueByIndex(1), Variant{std::int32_t{42}});
  EXPECT_EQ(error_number([&] { list.GetValueByName("bad"); }), err::kTypeMismatch);
  EXPECT_EQ(list.GetValueByIndex(3), Variant{std::string()});
  EXPECT_EQ(list.GetNameByValue(42.0), "forced");
}

TEST(NVPList, AbsentItemsAndBadIndexes) {
  NVPList list = list_of({"a"});
  EXPECT_TRUE(is_null(list.GetValueByName("zz")));
  EXPECT_EQ(list.GetIndexByName("zz"), 0);
  EXPECT_EQ(list.GetNameByValue(std::string("zz")), "");
  EXPECT_EQ(error_number([&] { list.GetNameByIndex(2); }), err::kSubscriptOutOfRange);
  EXPECT_EQ(error_number([&] { list.GetTypeByIndex(0); }), err::kSubscriptOutOfRange);
  list.SetValueByName("zz", 5);
  list.RemoveByIndex(2);
  EXPECT_EQ(names(list), Names{"a"});
}

TEST(NVPList, SortsAreStable) {
  NVPList exact = list_of({"b", "a", "A"});
  exact.SortByName();
  EXPECT_EQ(names(exact), (Names{"A", "a", "b"}));
  NVPList loose = list_of({"b", "a", "A"}, false);
  loose.SortByName();
  EXPECT_EQ(names(loose), (Names{"a", "A", "b"}));
  NVPList numbers = list_of({"10", "9", "x", "2.5 files", "-1e1"});
  numbers.SortByNameAsValues();
  EXPECT_EQ(names(numbers), (Names{"-1e1", "x", "2.5 files", "9", "10"}));
}

TEST(NVPList, LoadFromStringAndAsStringRoundTrip) {
  NVPList list;
  std::string text = "a = 1\r\n\r\n  b=2\r\nlonely";
  list.LoadFromString(text, "\r\n", "=");
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(list.GetTypeByIndex(1), vt::kString);
  EXPECT_EQ(list.AsString("\r\n", "=", ""), "a=1\r\nb=2\r\nlonely=\r\n");
  EXPECT_EQ(list.AsString(";", ":", "'"), "'a':'1';'b':'2';'lonely':'';");
}

}  // namespace
}  // namespace dexweb
