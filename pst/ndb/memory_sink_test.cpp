#include "pst/ndb/memory_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

namespace pst::ndb {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i)
    v[i] = static_cast<std::uint8_t>((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
  return v;
}

// Streams `data` the way a caller does: full blocks, then the rest, then the tree.
Bid WriteStream(NodeSink& sink, const std::vector<std::uint8_t>& data,
                std::vector<Bid>* leavesOut = nullptr) {
  std::vector<Bid> leaves;
  for (std::size_t off = 0; off < data.size(); off += kMaxBlockData) {
    const std::size_t n = std::min(kMaxBlockData, data.size() - off);
    auto bid = sink.WriteDataBlock(std::span(data).subspan(off, n));
    EXPECT_TRUE(bid.ok()) << bid.status().ToString();
    leaves.push_back(*bid);
  }
  auto top = sink.WriteDataTree(leaves, data.size());
  EXPECT_TRUE(top.ok()) << top.status().ToString();
  if (leavesOut) *leavesOut = leaves;
  return top.ok() ? *top : 0;
}

TEST(NdbMemorySink, DataTreesOfOneTwoAndManyLeavesReadBack) {
  struct Case {
    std::size_t size;
    BlockKind topKind;
  };
  const Case cases[] = {
      {1, BlockKind::kData},
      {kMaxBlockData, BlockKind::kData},
      {kMaxBlockData + 1, BlockKind::kXBlock},                     // 2 leaves
      {kXBlockCapacity * kMaxBlockData, BlockKind::kXBlock},       // 1,021 leaves: one XBLOCK, full
      {kXBlockCapacity * kMaxBlockData + 5, BlockKind::kXXBlock},  // 1,022 leaves
  };
  for (const Case& c : cases) {
    MemorySink sink;
    const auto data = Pattern(c.size, static_cast<std::uint32_t>(c.size));
    std::vector<Bid> leaves;
    const Bid top = WriteStream(sink, data, &leaves);
    ASSERT_NE(top, 0u);
    EXPECT_EQ(sink.DescribeBlock(top)->kind, c.topKind) << c.size;
    EXPECT_EQ((top & kBidInternalBit) != 0, c.topKind != BlockKind::kData);
    ASSERT_TRUE(sink.AddNode(MakeNid(NidType::kLtp, 1), top, 0, 0).ok());
    auto back = sink.ReadNodeData(MakeNid(NidType::kLtp, 1));
    ASSERT_TRUE(back.ok()) << back.status().ToString();
    EXPECT_TRUE(*back == data) << c.size;
    // Block by block: the leaves as written, in order, full but for the last.
    auto blocks = sink.ReadLeaves(top);
    ASSERT_TRUE(blocks.ok()) << blocks.status().ToString();
    ASSERT_EQ(blocks->size(), leaves.size()) << c.size;
    std::size_t at = 0;
    for (std::size_t i = 0; i < blocks->size(); ++i) {
      const std::vector<std::uint8_t>& block = (*blocks)[i];
      if (i + 1 < blocks->size()) {
        EXPECT_EQ(block.size(), kMaxBlockData) << c.size << " leaf " << i;
      }
      EXPECT_TRUE(std::equal(block.begin(), block.end(), data.begin() + static_cast<std::ptrdiff_t>(at)));
      at += block.size();
    }
    EXPECT_EQ(at, data.size());
    // Each block is referenced exactly once by what points at it.
    for (Bid leaf : leaves) EXPECT_EQ(sink.DescribeBlock(leaf)->refs, 1u);
    EXPECT_EQ(sink.DescribeBlock(top)->refs, 1u);
  }
}

TEST(NdbMemorySink, BlockIdsStepByFourWithInternalBitOnTrees) {
  MemorySink sink;
  EXPECT_EQ(sink.nextBlockId(), 4u);
  auto a = sink.WriteDataBlock(Pattern(kMaxBlockData, 1));
  auto b = sink.WriteDataBlock(Pattern(10, 2));
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_EQ(*a, 4u);
  EXPECT_EQ(*b, 8u);
  const Bid leaves[] = {*a, *b};
  auto x = sink.WriteDataTree(leaves, kMaxBlockData + 10);
  ASSERT_TRUE(x.ok());
  EXPECT_EQ(*x, 12u | kBidInternalBit);
  EXPECT_EQ(sink.nextBlockId(), 16u);
  // The same number without the internal bit names nothing.
  EXPECT_FALSE(sink.DescribeBlock(12).has_value());
}

TEST(NdbMemorySink, SubnodeTreesOfOneAndSeveralLeaves) {
  for (std::size_t count :
       {std::size_t{1}, kSlBlockCapacity, kSlBlockCapacity + 1, 3 * kSlBlockCapacity + 7}) {
    MemorySink sink;
    auto data = sink.WriteDataBlock(Pattern(20, 3));
    ASSERT_TRUE(data.ok());
    std::vector<SubnodeRef> entries;
    // Given in descending order: the sink sorts.
    for (std::size_t i = count; i > 0; --i)
      entries.push_back({MakeNid(NidType::kAttachment, static_cast<std::uint32_t>(i)), *data, 0});
    auto top = sink.WriteSubnodeTree(entries);
    ASSERT_TRUE(top.ok()) << top.status().ToString();
    EXPECT_EQ(sink.DescribeBlock(*top)->kind,
              count <= kSlBlockCapacity ? BlockKind::kSlBlock : BlockKind::kSiBlock);
    auto back = sink.ReadSubnodes(*top);
    ASSERT_TRUE(back.ok());
    ASSERT_EQ(back->size(), count);
    for (std::size_t i = 0; i < count; ++i) {
      EXPECT_EQ((*back)[i].nid, MakeNid(NidType::kAttachment, static_cast<std::uint32_t>(i + 1)));
      EXPECT_EQ((*back)[i].data, *data);
    }
    // The shared data block is counted once per entry that points at it.
    EXPECT_EQ(sink.DescribeBlock(*data)->refs, count);
  }
}

TEST(NdbMemorySink, RejectsBrokenPreconditionsWithoutWriting) {
  MemorySink sink;
  EXPECT_EQ(sink.WriteDataBlock({}).status().code(), quill::Status::Code::kInvalidArgument);
  EXPECT_FALSE(sink.WriteDataBlock(Pattern(kMaxBlockData + 1, 0)).ok());
  auto small = sink.WriteDataBlock(Pattern(100, 0));
  auto full = sink.WriteDataBlock(Pattern(kMaxBlockData, 0));
  ASSERT_TRUE(small.ok() && full.ok());
  const std::size_t blocksBefore = sink.blockCount();

  const Bid shortFirst[] = {*small, *full};
  EXPECT_FALSE(sink.WriteDataTree(shortFirst, 100 + kMaxBlockData).ok());  // non-final leaf not full
  const Bid ok[] = {*full, *small};
  EXPECT_FALSE(sink.WriteDataTree(ok, 12345).ok());  // size disagrees
  const Bid unknown[] = {*full, 4000};
  EXPECT_FALSE(sink.WriteDataTree(unknown, kMaxBlockData + 100).ok());
  const SubnodeRef twice[] = {{0x21, *small, 0}, {0x21, *full, 0}};
  EXPECT_FALSE(sink.WriteSubnodeTree(twice).ok());
  const SubnodeRef wrongKind[] = {{0x21, 0, *small}};  // a data block as a subnode tree
  EXPECT_FALSE(sink.WriteSubnodeTree(wrongKind).ok());
  EXPECT_EQ(sink.blockCount(), blocksBefore);

  EXPECT_FALSE(sink.AddNode(0, *small, 0, 0).ok());
  EXPECT_FALSE(sink.AddNode(0x122, 9999 * 4, 0, 0x122).ok());
  ASSERT_TRUE(sink.AddNode(0x122, *small, 0, 0x122).ok());
  EXPECT_EQ(sink.AddNode(0x122, 0, 0, 0x122).code(), quill::Status::Code::kAlreadyExists);
  EXPECT_TRUE(sink.status().ok());
  // Empty inputs are not errors.
  EXPECT_EQ(sink.WriteDataTree({}, 0).value(), 0u);
  EXPECT_EQ(sink.WriteSubnodeTree({}).value(), 0u);
}

TEST(NdbMemorySink, AllocatedNidsStartAtFileDefaultsAndSkipFixedOnes) {
  MemorySink sink;
  EXPECT_EQ(sink.AllocateNid(NidType::kNormalFolder), MakeNid(NidType::kNormalFolder, 0x401));
  EXPECT_EQ(sink.AllocateNid(NidType::kNormalMessage), MakeNid(NidType::kNormalMessage, 0x10001));
  EXPECT_EQ(sink.AllocateNid(NidType::kSearchFolder), MakeNid(NidType::kSearchFolder, 0x4001));
  EXPECT_EQ(sink.AllocateNid(NidType::kAssocMessage), MakeNid(NidType::kAssocMessage, 0x8001));
  EXPECT_EQ(sink.AllocateNid(NidType::kAttachment), MakeNid(NidType::kAttachment, 0x401));
  // A caller-chosen nid ahead of the counter moves it; one behind leaves it alone.
  ASSERT_TRUE(sink.AddNode(MakeNid(NidType::kNormalFolder, 0x500), 0, 0, 0x122).ok());
  ASSERT_TRUE(sink.AddNode(MakeNid(NidType::kNormalFolder, 9), 0, 0, 0x122).ok());
  EXPECT_EQ(sink.AllocateNid(NidType::kNormalFolder), MakeNid(NidType::kNormalFolder, 0x501));
  EXPECT_EQ(sink.nidCounters()[static_cast<int>(NidType::kNormalFolder)], 0x501u);
}

TEST(NdbMemorySink, AFailedStoreMakesTheSinkUnusable) {
  MemorySink sink;
  sink.FailAfterBlocks(2);
  ASSERT_TRUE(sink.WriteDataBlock(Pattern(kMaxBlockData, 1)).ok());
  ASSERT_TRUE(sink.WriteDataBlock(Pattern(5, 1)).ok());
  auto third = sink.WriteDataBlock(Pattern(5, 1));
  EXPECT_EQ(third.status().code(), quill::Status::Code::kIOError);
  EXPECT_EQ(sink.AddNode(0x21, 0, 0, 0).code(), quill::Status::Code::kIOError);
  EXPECT_FALSE(sink.WriteDataTree({}, 0).ok());
  EXPECT_FALSE(sink.status().ok());
}

TEST(NdbMemorySink, NodeWithSubnodesReadsBack) {
  MemorySink sink;
  const auto body = Pattern(3 * kMaxBlockData + 17, 9);
  const Bid bodyTop = WriteStream(sink, body);
  auto pc = sink.WriteDataBlock(Pattern(300, 4));
  ASSERT_TRUE(pc.ok());
  const SubnodeRef inner[] = {{MakeNid(NidType::kLtp, 1), bodyTop, 0}};
  auto innerTree = sink.WriteSubnodeTree(inner);
  ASSERT_TRUE(innerTree.ok());
  const SubnodeRef subs[] = {{0x692, *pc, 0}, {MakeNid(NidType::kAttachment, 1), *pc, *innerTree}};
  auto tree = sink.WriteSubnodeTree(subs);
  ASSERT_TRUE(tree.ok());
  const Nid msg = sink.AllocateNid(NidType::kNormalMessage);
  ASSERT_TRUE(sink.AddNode(msg, *pc, *tree, MakeNid(NidType::kNormalFolder, 0x401)).ok());

  auto node = sink.FindNode(msg);
  ASSERT_TRUE(node.has_value());
  EXPECT_EQ(node->parent, MakeNid(NidType::kNormalFolder, 0x401));
  auto subnodes = sink.ReadNodeSubnodes(msg);
  ASSERT_TRUE(subnodes.ok());
  ASSERT_EQ(subnodes->size(), 2u);
  EXPECT_EQ((*subnodes)[0].nid, MakeNid(NidType::kAttachment, 1));  // sorted: 0xA5 < 0x692
  auto nested = sink.ReadSubnodes((*subnodes)[0].sub);
  ASSERT_TRUE(nested.ok());
  ASSERT_EQ(nested->size(), 1u);
  EXPECT_TRUE(sink.ReadData((*nested)[0].data).value() == body);
  EXPECT_EQ(sink.ReadNodeData(0x9999).status().code(), quill::Status::Code::kNotFound);
}

}  // namespace
}  // namespace pst::ndb
