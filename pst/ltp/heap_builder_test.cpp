#include "pst/ltp/heap_builder.h"

#include <gtest/gtest.h>

#include <numeric>

#include "pst/ltp/bth_builder.h"
#include "pst/ltp/ltp_test_support.h"

namespace pst::ltp {
namespace {

using testing::Bytes;
using testing::FakeSink;
using testing::Le;
using testing::Must;
using testing::ParseBth;
using testing::ParseHeap;

Bytes Filled(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
  return b;
}

TEST(LtpHeap, OneBlockLayout) {
  HeapBuilder heap(0xBC);
  const Bytes a = Filled(5, 1), b = Filled(8, 2), c = Filled(3, 3);
  ASSERT_EQ(Must(heap.Allocate(a)), 0x20u);
  ASSERT_EQ(Must(heap.Allocate(b)), 0x40u);
  ASSERT_EQ(Must(heap.Allocate(c)), 0x60u);
  heap.SetUserRoot(0x40);
  FakeSink sink;
  quill::Result<ndb::Bid> bid = heap.Write(sink);
  ASSERT_TRUE(bid.ok());

  const std::vector<Bytes> blocks = sink.Leaves(*bid);
  ASSERT_EQ(blocks.size(), 1u);
  const Bytes& block = blocks[0];
  // HNHDR, 16 bytes of items, page map at the next even offset, nothing after it.
  EXPECT_EQ(block[2], 0xEC);
  EXPECT_EQ(block[3], 0xBC);
  EXPECT_EQ(Le(block, 4, 4), 0x40u);
  EXPECT_EQ(Le(block, 0, 2), 28u);
  EXPECT_EQ(Le(block, 28, 2), 3u);
  EXPECT_EQ(Le(block, 34, 2), 17u);
  EXPECT_EQ(Le(block, 36, 2), 25u);
  EXPECT_EQ(Le(block, 38, 2), 28u);
  EXPECT_EQ(block.size(), 40u);

  testing::ParsedHeap parsed = ParseHeap(blocks);
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(*parsed.Item(0x20), a);
  EXPECT_EQ(*parsed.Item(0x40), b);
  EXPECT_EQ(*parsed.Item(0x60), c);
}

TEST(LtpHeap, RejectsEmptyAndOversizedAllocations) {
  HeapBuilder heap(0xBC);
  EXPECT_EQ(heap.Allocate(Bytes{}).status().code(), quill::Status::Code::kInvalidArgument);
  EXPECT_EQ(heap.Allocate(Bytes(kMaxHeapItem + 1)).status().code(), quill::Status::Code::kInvalidArgument);
  ASSERT_TRUE(heap.Allocate(Bytes(kMaxHeapItem)).ok());
  EXPECT_FALSE(heap.Replace(0x20, Bytes(4)).ok()) << "size change";
  EXPECT_FALSE(heap.Replace(0x40, Bytes(kMaxHeapItem)).ok()) << "unknown index";
  EXPECT_FALSE(heap.Replace(0x10020, Bytes(kMaxHeapItem)).ok()) << "unknown block";
  EXPECT_TRUE(heap.Replace(0x20, Bytes(kMaxHeapItem, 9)).ok());
}

TEST(LtpHeap, SpillsIntoFurtherBlocksWithFullLeaves) {
  // Two maximal items fit a block (12 + 7160 + map); the third starts block 1.
  HeapBuilder heap(0x7C);
  std::vector<Hid> hids;
  for (int i = 0; i < 5; ++i)
    hids.push_back(Must(heap.Allocate(Filled(kMaxHeapItem, static_cast<std::uint8_t>(i)))));
  EXPECT_EQ(hids, (std::vector<Hid>{0x20, 0x40, 0x10020, 0x10040, 0x20020}));
  FakeSink sink;
  quill::Result<ndb::Bid> bid = heap.Write(sink);  // the sink checks every leaf but the last is full
  ASSERT_TRUE(bid.ok());
  const std::vector<Bytes> blocks = sink.Leaves(*bid);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].size(), ndb::kMaxBlockData);
  EXPECT_EQ(blocks[1].size(), ndb::kMaxBlockData);
  EXPECT_LT(blocks[2].size(), ndb::kMaxBlockData);
  testing::ParsedHeap parsed = ParseHeap(blocks);
  ASSERT_TRUE(parsed.ok);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(*parsed.Item(hids[i]), Filled(kMaxHeapItem, static_cast<std::uint8_t>(i)));
  // Full blocks have under 1 KiB left (level 7: 768-1024 free); the last, with one item, has
  // more than 3584 bytes free (level 0).
  EXPECT_EQ(parsed.fillLevels[0], 7);
  EXPECT_EQ(parsed.fillLevels[1], 7);
  EXPECT_EQ(parsed.fillLevels[2], 0);
}

TEST(LtpHeap, BitmapHeaderAtBlockEight) {
  HeapBuilder heap(0xBC);
  std::vector<Hid> hids;
  while (heap.blockCount() < 12)
    hids.push_back(Must(heap.Allocate(Filled(3000, static_cast<std::uint8_t>(hids.size())))));
  FakeSink sink;
  quill::Result<ndb::Bid> bid = heap.Write(sink);
  ASSERT_TRUE(bid.ok());
  const std::vector<Bytes> blocks = sink.Leaves(*bid);
  ASSERT_EQ(blocks.size(), 12u);
  EXPECT_EQ(Le(blocks[8], 0, 2), 66u + 6000u) << "page map after a 66-byte header and two items";
  testing::ParsedHeap parsed = ParseHeap(blocks);  // checks the first item of block 8 starts at 66
  ASSERT_TRUE(parsed.ok);
  for (std::size_t i = 0; i < hids.size(); ++i) {
    ASSERT_NE(parsed.Item(hids[i]), nullptr);
    EXPECT_EQ(*parsed.Item(hids[i]), Filled(3000, static_cast<std::uint8_t>(i)));
  }
  for (std::size_t b = 0; b + 1 < blocks.size(); ++b)
    EXPECT_EQ(parsed.fillLevels[b], 2) << b;  // 2048-2560 free
}

TEST(LtpHeap, SpilledBlocksAreTheSameBytesWrittenEarly) {
  // Past the bitmap block at 8, so both kinds of kept block are crossed.
  HeapBuilder kept(0x7C);
  HeapBuilder spilled(0x7C);
  FakeSink keptSink;
  FakeSink spillSink;
  spilled.SpillTo(spillSink);
  std::vector<Hid> hids;
  while (kept.blockCount() < 12) {
    const Bytes item = Filled(3000, static_cast<std::uint8_t>(hids.size()));
    hids.push_back(Must(kept.Allocate(item)));
    ASSERT_EQ(Must(spilled.Allocate(item)), hids.back());
  }
  // Block 0 and block 8 stay open for their fill levels and can still change; the others cannot.
  EXPECT_TRUE(spilled.Replace(hids.front(), Filled(3000, 99)).ok());
  ASSERT_TRUE(kept.Replace(hids.front(), Filled(3000, 99)).ok());
  EXPECT_FALSE(spilled.Replace(hids[3], Filled(3000, 1)).ok());
  const std::vector<Bytes> a = keptSink.Leaves(Must(kept.Write(keptSink)));
  const std::vector<Bytes> b = spillSink.Leaves(Must(spilled.Write(spillSink)));
  ASSERT_EQ(a.size(), 12u);
  EXPECT_EQ(a, b);
}

TEST(LtpHeap, AllocationCountLimitPerBlock) {
  // hidIndex has 11 bits: allocation 2048 of one byte each must open block 1 although bytes remain.
  HeapBuilder heap(0xBC);
  Hid last = 0;
  for (int i = 0; i < 2047; ++i) last = Must(heap.Allocate(Bytes{1}));
  EXPECT_EQ(last, MakeHid(0, 2047));
  EXPECT_EQ(Must(heap.Allocate(Bytes{2})), MakeHid(1, 1));
  FakeSink sink;
  quill::Result<ndb::Bid> bid = heap.Write(sink);
  ASSERT_TRUE(bid.ok());
  testing::ParsedHeap parsed = ParseHeap(sink.Leaves(*bid));
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.items[0].size(), 2047u);
  EXPECT_EQ(*parsed.Item(MakeHid(1, 1)), Bytes{2});
}

TEST(LtpHeap, WriteFailureIsReported) {
  HeapBuilder heap(0xBC);
  ASSERT_TRUE(heap.Allocate(Bytes(10)).ok());
  FakeSink sink;
  sink.FailAfterBlocks(0);
  EXPECT_EQ(heap.Write(sink).status().code(), quill::Status::Code::kIOError);
}

Bytes Records(std::size_t count, std::uint32_t step) {
  Bytes out;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t key = static_cast<std::uint32_t>(i) * step + 1;
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(key >> (8 * k)));
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(~key >> (8 * k)));
  }
  return out;
}

TEST(LtpBth, LevelsGrowAtTheAllocationLimit) {
  // 447 eight-byte records fill one 3,576-byte allocation; each index level holds 447 children.
  struct Case {
    std::size_t count, levels;
  };
  for (const Case& c :
       {Case{0, 0}, Case{1, 0}, Case{447, 0}, Case{448, 1}, Case{447 * 447, 1}, Case{447 * 447 + 1, 2}}) {
    HeapBuilder heap(0xB5);
    Hid header = Must(ReserveBthHeader(heap));
    const Bytes records = Records(c.count, 0x5001);
    ASSERT_TRUE(BuildBth(heap, header, 4, 4, records).ok()) << c.count;
    heap.SetUserRoot(header);
    FakeSink sink;
    testing::ParsedHeap parsed = ParseHeap(sink.Leaves(Must(heap.Write(sink))));
    ASSERT_TRUE(parsed.ok);
    testing::ParsedBth bth = ParseBth(parsed, header);
    ASSERT_TRUE(bth.ok) << c.count;
    EXPECT_EQ(bth.levels, c.levels) << c.count;
    ASSERT_EQ(bth.records.size(), c.count);
    Bytes flat;
    for (const auto& [k, v] : bth.records) {
      flat.insert(flat.end(), k.begin(), k.end());
      flat.insert(flat.end(), v.begin(), v.end());
    }
    EXPECT_EQ(flat, records) << c.count;
  }
}

TEST(LtpBth, RejectsUnsortedDuplicateAndRaggedInput) {
  HeapBuilder heap(0xB5);
  Hid header = Must(ReserveBthHeader(heap));
  Bytes records = Records(3, 1);
  Bytes swapped = records;
  std::swap_ranges(swapped.begin(), swapped.begin() + 8, swapped.begin() + 8);
  EXPECT_FALSE(BuildBth(heap, header, 4, 4, swapped).ok());
  Bytes duplicate = records;
  std::copy(duplicate.begin(), duplicate.begin() + 4, duplicate.begin() + 8);
  EXPECT_FALSE(BuildBth(heap, header, 4, 4, duplicate).ok());
  EXPECT_FALSE(BuildBth(heap, header, 4, 4, Bytes(records.begin(), records.end() - 1)).ok());
  EXPECT_FALSE(BuildBth(heap, header, 3, 4, records).ok());
  // Keys compare as numbers, not bytes: 0x0100 follows 0x00FF.
  const Bytes numeric = {0xFF, 0x00, 1, 0x00, 0x01, 2};
  EXPECT_TRUE(BuildBth(heap, header, 2, 1, numeric).ok());
}

}  // namespace
}  // namespace pst::ltp
