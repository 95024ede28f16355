#include "fs/keyed_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace fs {
namespace {

TEST(KeyedListTest, KeysAreUniqueAndItemsKeepTheirOrder) {
  KeyedList list;
  EXPECT_FALSE(list.ContainsKey("K1"));
  ASSERT_TRUE(list.Add("/m/a", "K1").ok());
  ASSERT_TRUE(list.Add("/m/b", "K2").ok());
  ASSERT_TRUE(list.Add("/m/a", "K10").ok());  // the same item under another key is fine
  ASSERT_TRUE(list.Add("/m/empty-key", "").ok());
  const quill::Status again = list.Add("/m/c", "K2");
  EXPECT_EQ(again.code(), quill::Status::Code::kAlreadyExists);
  EXPECT_NE(again.message().find("K2"), std::string::npos);
  EXPECT_FALSE(list.Add("/m/d", "").ok());
  EXPECT_EQ(list.Items(), (std::vector<std::string>{"/m/a", "/m/b", "/m/a", "/m/empty-key"}));
  EXPECT_TRUE(list.ContainsKey("K10"));
  EXPECT_FALSE(list.ContainsKey("K"));
  list.Clear();
  EXPECT_TRUE(list.Empty());
  EXPECT_FALSE(list.ContainsKey("K1"));
  EXPECT_TRUE(list.Add("/m/a", "K1").ok());
}

TEST(KeyedListTest, ManyKeysInAnyOrderAcrossTableGrowth) {
  std::vector<std::string> keys;
  for (int i = 0; i < 50000; ++i) keys.push_back((i % 2 ? "Z" : "K") + std::to_string(i * 7919 % 100003));
  std::shuffle(keys.begin(), keys.end(), std::mt19937(3));
  KeyedList list;
  for (const std::string& k : keys) ASSERT_TRUE(list.Add("item " + k, k).ok()) << k;
  for (const std::string& k : keys) ASSERT_FALSE(list.Add("again", k).ok()) << k;
  EXPECT_EQ(list.Count(), keys.size());
  for (std::size_t i = 0; i < keys.size(); i += 997) EXPECT_EQ(list.Item(i), "item " + keys[i]);
  EXPECT_FALSE(list.ContainsKey("K100003"));
}

// Items are packed into blocks of 1 MiB: they must come back whole on both sides of a block's
// end, and an item longer than a block must neither be cut nor share its block.
TEST(KeyedListTest, ItemsSurviveBlockEndsAndItemsLongerThanABlock) {
  KeyedList list;
  std::vector<std::string> expected;
  const auto add = [&](std::string item) {
    ASSERT_TRUE(list.Add(item, "K" + std::to_string(expected.size())).ok());
    expected.push_back(std::move(item));
  };
  for (int i = 0; i < 30000; ++i)
    add(std::string(37 + i % 23, static_cast<char>('a' + i % 26)) + std::to_string(i));
  add(std::string((1 << 20) + 5, 'L'));
  add("after the long one");
  add(std::string(1 << 20, 'E'));  // exactly a block
  add("");
  for (int i = 0; i < 30000; ++i) add("/tail/" + std::to_string(i));
  ASSERT_EQ(list.Count(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(list.Item(i), expected[i]) << i;
  EXPECT_EQ(list.Items(), expected);
}

}  // namespace
}  // namespace fs
