// The name/value list's rules: where storage grows, which item a look-up finds, how each
// sort orders, and what bad indexes do. (Loading and writing text is pinned where the
// connection file is read.)
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
  for (int i = 0; i < static_cast<int>(item_names.size()); ++i) list.Add(item_names[static_cast<std::size_t>(i)], i + 1);
  return list;
}

TEST(NVPList, StorageGrowsByGrowSizeSlotsWhenFull) {
  for (const auto& [grow, expected] : {std::pair{10, std::vector<int>{1, 11, 21}}, {4, {1, 5, 9, 13, 17, 21, 25}}}) {
    NVPList list;
    list.SetGrowSize(grow);
    std::vector<int> grew_at;
    for (int i = 1; i <= 25; ++i) {
      const std::size_t before = list.Capacity();
      list.Add("n", i);
      if (list.Capacity() != before) grew_at.push_back(i);
    }
    EXPECT_EQ(grew_at, expected) << grow;
    list.ClearKeepingStorage();
    EXPECT_EQ(list.Count(), 0);
  }
}

TEST(NVPList, LookUpsTakeTheFirstMatchAndSayNoneWithoutRaising) {
  NVPList exact = list_of({"a", "B", "b", "a"});
  NVPList loose = list_of({"a", "B", "b", "a"}, false);
  EXPECT_EQ(exact.GetIndexByName("b"), 3);
  EXPECT_EQ(loose.GetIndexByName("b"), 2);
  EXPECT_EQ(exact.AddUnique("a"), 0);
  EXPECT_EQ(loose.AddUnique("A"), 0);
  EXPECT_EQ(exact.AddUnique("A"), 5);
  // Values match across kinds as numbers: the text "4" finds the long 4.
  EXPECT_EQ(exact.GetIndexByValue(std::string("4")), 4);
  EXPECT_EQ(exact.GetNameByValue(2.0), "B");
  EXPECT_EQ(exact.GetIndexByName("zz"), 0);
  EXPECT_EQ(exact.GetNameByValue(std::string("zz")), "");
  EXPECT_TRUE(is_null(exact.GetValueByName("zz")));
  // Changes by name or value touch the first match only and never add an item.
  exact.SetValueByName("a", std::string("42"), vt::kLong);
  exact.SetValueByName("zz", 1);
  EXPECT_EQ(exact.GetValueByName("a"), Variant{std::int32_t{42}});
  EXPECT_EQ(exact.GetValueByIndex(4), Variant{std::int32_t{4}});
  EXPECT_EQ(exact.Count(), 5);
}

TEST(NVPList, BadIndexesRaiseOnReadsAndAreIgnoredByChanges) {
  NVPList list = list_of({"a", "b", "c"});
  const auto error_of = [&](auto read) {
    try {
      read();
    } catch (const RuntimeError& e) {
      return e.number();
    }
    return 0;
  };
  for (int index : {0, 4}) {
    EXPECT_EQ(error_of([&] { list.GetNameByIndex(index); }), err::kSubscriptOutOfRange);
    EXPECT_EQ(error_of([&] { list.GetTypeByIndex(index); }), err::kSubscriptOutOfRange);
    EXPECT_EQ(error_of([&] { list.GetValueByIndex(index); }), err::kSubscriptOutOfRange);
    list.RemoveByIndex(index);
    list.SetNameByIndex(index, "x");
  }
  int from = -5, to = 2;
  list.RemoveRange(from, to);
  EXPECT_EQ(from, 1);
  EXPECT_EQ(names(list), Names{"c"});
}

TEST(NVPList, SortsAreStableAndAscending) {
  struct Case {
    Names input;
    bool case_sensitive;
    void (NVPList::*sort)();
    Names sorted;
  };
  for (const Case& c : {Case{{"b", "a", "A"}, true, &NVPList::SortByName, {"A", "a", "b"}},
                        Case{{"b", "a", "A"}, false, &NVPList::SortByName, {"a", "A", "b"}},
                        Case{{"10", "9", "x", "2.5 files", "-1e1"}, true, &NVPList::SortByNameAsValues,
                             {"-1e1", "x", "2.5 files", "9", "10"}}}) {
    NVPList list = list_of(c.input, c.case_sensitive);
    (list.*c.sort)();
    EXPECT_EQ(names(list), c.sorted);
  }
  NVPList by_value;
  for (const auto& [name, value] : {std::pair<const char*, Variant>{"ten", 10}, {"text", std::string("b")}, {"two", 2.0},
                                    {"null", Null{}}, {"also two", std::string("2")}})
    by_value.Add(name, value);
  by_value.SortByValue();
  EXPECT_EQ(names(by_value), (Names{"null", "two", "also two", "ten", "text"}));
}

}  // namespace
}  // namespace dexweb
