#include "engine/path_lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace engine {
namespace {

using Paths = std::vector<std::string>;

void Sort(Paths& a) { QuickSortPaths(a, 0, static_cast<std::int32_t>(a.size()) - 1, nullptr); }

TEST(PathListsTest, MiddleIndexRoundsHalfToEven) {
  EXPECT_EQ(MiddleIndex(0, 5), 2);  // 2.5
  EXPECT_EQ(MiddleIndex(0, 3), 2);  // 1.5
  EXPECT_EQ(MiddleIndex(2, 5), 4);  // 3.5
  EXPECT_EQ(MiddleIndex(0, 4), 2);
  EXPECT_EQ(MiddleIndex(0, 0), 0);
  EXPECT_EQ(MiddleIndex(0, 1), 0);  // 0.5
  EXPECT_EQ(MiddleIndex(2147483646, 2147483647), 2147483646);
}

TEST(PathListsTest, SortsThenDropsRepeatsAndEmptyEntries) {
  Paths a = {"\\b", "", "\\a\\x", "\\a", ""};
  Sort(a);
  EXPECT_EQ(a, (Paths{"", "", "\\a", "\\a\\x", "\\b"}));
  RemoveDuplicatePaths(a, nullptr);
  EXPECT_EQ(a, (Paths{"\\a", "\\a\\x", "\\b"}));

  Paths same = {"\\x", "\\x", "\\x"};
  RemoveDuplicatePaths(same, nullptr);
  EXPECT_EQ(same, Paths{"\\x"});

  Paths runs = {"", "\\a", "\\a", "\\b", "\\c", "\\c", "\\c", "\\c", "\\d"};
  RemoveDuplicatePaths(runs, nullptr);
  EXPECT_EQ(runs, (Paths{"\\a", "\\b", "\\c", "\\d"}));
}

TEST(PathListsTest, CaseIsDistinctAndUpperCaseSortsFirst) {
  Paths a = {"\\a", "\\A", "\\a"};
  Sort(a);
  RemoveDuplicatePaths(a, nullptr);
  EXPECT_EQ(a, (Paths{"\\A", "\\a"}));
}

TEST(PathListsTest, OrderIsThatOfUtf16CodeUnits) {
  // U+1F4EC (a surrogate pair starting 0xD83D) sorts before U+FF01, unlike in UTF-8 byte order.
  Paths a = {"\\\xEF\xBC\x81", "\\\xF0\x9F\x93\xAC", "\\z"};
  Sort(a);
  EXPECT_EQ(a, (Paths{"\\z", "\\\xF0\x9F\x93\xAC", "\\\xEF\xBC\x81"}));
}

TEST(PathListsTest, OnlyEmptyEntriesKeepTheirSize) {
  Paths a = {"", "", ""};
  RemoveDuplicatePaths(a, nullptr);
  EXPECT_EQ(a, (Paths{"", "", ""}));
  Paths none;
  RemoveDuplicatePaths(none, nullptr);
  EXPECT_TRUE(none.empty());
  Sort(none);
  EXPECT_TRUE(none.empty());
}

TEST(PathListsTest, AgreesWithAReferenceSortOnRandomLists) {
  std::mt19937 rng(7);
  const Paths alphabet = {"", "\\a", "\\A", "\\a\\b", "\\b", "\\\xC3\xA9", "\\Inbox", "\\Sent", "\\x\\y\\z"};
  for (int round = 0; round < 200; ++round) {
    Paths a(rng() % 40);
    for (auto& s : a) s = alphabet[rng() % alphabet.size()];
    Paths expected = a;
    std::sort(expected.begin(), expected.end());  // byte order equals UTF-16 order for these
    Sort(a);
    ASSERT_EQ(a, expected);
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    expected.erase(std::remove(expected.begin(), expected.end(), ""), expected.end());
    RemoveDuplicatePaths(a, nullptr);
    if (expected.empty()) {
      ASSERT_TRUE(std::all_of(a.begin(), a.end(), [](const std::string& s) { return s.empty(); }));
    } else {
      ASSERT_EQ(a, expected);
    }
  }
}

TEST(PathListsTest, YieldsAtEveryStep) {
  Paths a = {"\\c", "\\b", "\\a", "\\b"};
  int yields = 0;
  QuickSortPaths(a, 0, 3, [&] { ++yields; });
  EXPECT_GE(yields, 8);
  const int afterSort = yields;
  RemoveDuplicatePaths(a, [&] { ++yields; });
  EXPECT_GE(yields - afterSort, 2 * 4);
}

}  // namespace
}  // namespace engine
