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

}  // namespace
}  // namespace fs
