#include "pst/ndb/node_index.h"

#include <gtest/gtest.h>

namespace pst::ndb {
namespace {

TEST(NdbNodeIndex, FindsEveryNodeOnceWhateverItsId) {
  NodeIndex index;
  std::size_t position = 0;
  // Ids in sequence, of two types whose indexes overlap, as the writer hands them out.
  for (std::uint32_t i = 0; i < 5000; ++i) {
    ASSERT_TRUE(index.Insert(MakeNid(NidType::kNormalMessage, 0x10001 + i), position++));
    ASSERT_TRUE(index.Insert(MakeNid(NidType::kNormalFolder, 0x10001 + i), position++));
  }
  // A fixed id below the counters, and one just too far past the message table to extend it.
  const std::uint32_t end = 0x10001 + 5000;
  const Nid root = 0x122, far = MakeNid(NidType::kNormalMessage, end + NodeIndex::kTableSlack + 10);
  ASSERT_TRUE(index.Insert(root, 10000));
  ASSERT_TRUE(index.Insert(far, 10001));
  // The table then grows past the far id in sequence, leaving the far id's slot empty.
  position = 10002;
  for (std::uint32_t i = end; i < end + NodeIndex::kTableSlack + 20; ++i) {
    if (MakeNid(NidType::kNormalMessage, i) == far) continue;
    ASSERT_TRUE(index.Insert(MakeNid(NidType::kNormalMessage, i), position++));
  }

  EXPECT_EQ(index.Find(MakeNid(NidType::kNormalMessage, 0x10001)), 0u);
  EXPECT_EQ(index.Find(MakeNid(NidType::kNormalFolder, 0x10001)), 1u);
  EXPECT_EQ(index.Find(MakeNid(NidType::kNormalFolder, 0x10001 + 4999)), 9999u);
  EXPECT_EQ(index.Find(root), 10000u);
  EXPECT_EQ(index.Find(far), 10001u);
  EXPECT_EQ(index.Find(MakeNid(NidType::kNormalMessage, end)), 10002u);
  EXPECT_FALSE(index.Find(MakeNid(NidType::kNormalMessage, end + NodeIndex::kTableSlack + 20)).has_value());
  EXPECT_FALSE(index.Find(MakeNid(NidType::kNormalFolder, 0x10001 + 5000)).has_value());
  EXPECT_FALSE(index.Find(MakeNid(NidType::kAttachment, 0x10001)).has_value());

  // A second node under any of these ids is refused and changes nothing.
  EXPECT_FALSE(index.Insert(MakeNid(NidType::kNormalMessage, 0x10001), 42));
  EXPECT_FALSE(index.Insert(root, 42));
  EXPECT_FALSE(index.Insert(far, 42));
  EXPECT_EQ(index.Find(root), 10000u);
  EXPECT_EQ(index.Find(far), 10001u);
}

}  // namespace
}  // namespace pst::ndb
