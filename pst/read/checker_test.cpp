// The checker against Outlook's own stores (which must pass) and against copies of them damaged in
// one place each (which must be reported), plus truncated and random input (which must not crash
// or hang).
#include "pst/read/checker.h"

#include <gtest/gtest.h>

#include <random>

#include "pst/read/messaging.h"
#include "pst/read/test_util.h"

namespace pst::read {
namespace {

using testing::Bytes;
using testing::Describe;
using testing::HasFinding;

const char* const kReferenceStores[] = {"pstsdk_sample1.pst", "ruby-msg_attachAndInline.pst",
                                        "ruby-msg_msgInMsg.pst", "java-libpst_dist-list.pst"};

TEST(PstReadChecker, OutlookStoresPass) {
  const std::size_t folders[] = {7, 5, 5, 24};
  const std::size_t messages[] = {1, 1, 2, 6};  // embedded messages included
  for (int i = 0; i < 4; ++i) {
    Result<CheckReport> r = CheckFile(testing::ReferencePath(kReferenceStores[i]));
    ASSERT_TRUE(r.ok()) << kReferenceStores[i] << ": " << r.status().ToString();
    EXPECT_TRUE(r->findings.empty()) << kReferenceStores[i] << ":\n" << Describe(r->findings);
    EXPECT_EQ(r->folders.size(), folders[i]) << kReferenceStores[i];
    EXPECT_EQ(r->messages, messages[i]) << kReferenceStores[i];
  }
}

// A copy of the sample store, damaged by each test and then checked.
class PstReadCorruption : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = testing::LoadReference("pstsdk_sample1.pst");
    ASSERT_FALSE(bytes_.empty());
    Result<std::unique_ptr<PstFile>> f = PstFile::FromBytes(bytes_);
    ASSERT_TRUE(f.ok());
    original_ = std::move(f).value();
  }

  CheckReport Check() {
    Result<std::unique_ptr<PstFile>> f = PstFile::FromBytes(bytes_);
    EXPECT_TRUE(f.ok()) << f.status().ToString();
    if (!f.ok()) return {};
    return CheckStore(*f.value());
  }

  // The data block of a node, which in this small store is always a single block.
  Bid DataBid(Nid nid) const { return original_->nodes().at(nid).data; }

  Bytes bytes_;
  std::unique_ptr<PstFile> original_;
};

TEST_F(PstReadCorruption, HeaderCrcAndCounters) {
  bytes_[0x10] ^= 0x01;  // a reserved field both header checksums cover
  CheckReport r = Check();
  EXPECT_TRUE(HasFinding(r, "partial header CRC")) << Describe(r.findings);
  EXPECT_TRUE(HasFinding(r, "full header CRC"));

  bytes_[0x10] ^= 0x01;
  testing::PutLe64(bytes_, 0x204, 4);             // bidNextB below blocks in use
  testing::PutLe32(bytes_, 0x2C + 4 * 4, 0x400);  // message counter below the message index used
  testing::FixHeaderCrcs(bytes_);
  r = Check();
  EXPECT_FALSE(HasFinding(r, "header CRC"));
  EXPECT_TRUE(HasFinding(r, "bidNextB")) << Describe(r.findings);
  EXPECT_TRUE(HasFinding(r, "id counter for node type 0x4"));
}

TEST_F(PstReadCorruption, BlockTrailerFaults) {
  auto blocks = original_->blocks().begin();
  const BlockEntry first = blocks->second;
  const BlockEntry second = (++blocks)->second;
  const std::uint64_t trailer1 = first.ib + BlockDiskSize(first.cb) - kBlockTrailerSize;
  bytes_[trailer1 + 4] ^= 0xFF;  // stored CRC
  const std::uint64_t trailer2 = second.ib + BlockDiskSize(second.cb) - kBlockTrailerSize;
  bytes_[trailer2 + 8] ^= 0x40;  // stored bid
  CheckReport r = Check();
  EXPECT_TRUE(HasFinding(r, "block " + Hex(first.bid) + " @" + Hex(first.ib) + ": CRC does not match"))
      << Describe(r.findings);
  EXPECT_TRUE(HasFinding(r, "block " + Hex(second.bid) + " @" + Hex(second.ib) + ": trailer bid"));
}

TEST_F(PstReadCorruption, BtreeKeyOrder) {
  const std::uint64_t entry = testing::FindLeafEntry(*original_, bytes_, true, 0x21);
  ASSERT_NE(entry, 0u);
  const std::uint64_t page = testing::PageOf(entry);
  ASSERT_GE(bytes_[page + 488], 2);  // at least two entries to swap
  std::swap_ranges(bytes_.begin() + entry, bytes_.begin() + entry + 32, bytes_.begin() + entry + 32);
  testing::FixPageCrc(bytes_, page);
  CheckReport r = Check();
  EXPECT_TRUE(HasFinding(r, "keys out of order")) << Describe(r.findings);
  EXPECT_TRUE(HasFinding(r, "differs from the first key")) << Describe(r.findings);
}

TEST_F(PstReadCorruption, BtreePageCrcAndLevel) {
  // A leaf that claims to be an index page is skipped with a finding; the rest still reads.
  std::uint64_t leaf = 0;
  for (const BtPage& p : original_->pages()) {
    if (p.ptype == kPtypeNbt && p.level == 0) leaf = p.ib;  // the last NBT leaf
  }
  ASSERT_NE(leaf, 0u);
  ASSERT_NE(leaf, original_->header().nbt_root.ib);
  bytes_[leaf + 491] = 1;
  testing::FixPageCrc(bytes_, leaf);
  const std::uint64_t bbt = original_->header().bbt_root.ib;
  bytes_[bbt + 487] ^= 0x01;  // unused entry space changed, CRC left stale
  CheckReport r = Check();
  EXPECT_TRUE(HasFinding(r, "NBT page @" + Hex(leaf) + ": page level 1 where 0 was expected"))
      << Describe(r.findings);
  EXPECT_TRUE(HasFinding(r, "BBT page @" + Hex(bbt) + ": page CRC does not match")) << Describe(r.findings);

  // A root whose level no child confirms leaves no nodes at all: the store cannot be opened.
  bytes_ = testing::LoadReference("pstsdk_sample1.pst");
  const std::uint64_t root = original_->header().nbt_root.ib;
  bytes_[root + 491] = 7;
  testing::FixPageCrc(bytes_, root);
  EXPECT_EQ(PstFile::FromBytes(bytes_).status().code(), Status::Code::kCorruption);
}

TEST_F(PstReadCorruption, AllocationMapBit) {
  // Clear the bit of the first slot of some block in the first region.
  const BlockEntry& b = original_->blocks().begin()->second;
  const std::uint64_t slot = (b.ib - kFirstAmapOffset) / kAmapSlot;
  ASSERT_LT(slot, 3968u);
  const std::uint64_t byte = kFirstAmapOffset + slot / 8;
  ASSERT_TRUE(bytes_[byte] & (0x80 >> (slot % 8)));
  bytes_[byte] &= static_cast<std::uint8_t>(~(0x80 >> (slot % 8)));
  testing::FixPageCrc(bytes_, kFirstAmapOffset);
  CheckReport r = Check();
  EXPECT_TRUE(HasFinding(r, "in use but not marked")) << Describe(r.findings);
  EXPECT_TRUE(HasFinding(r, "cbAMapFree"));

  // Marking free space as used is a leak, reported as a note; the header's free count then lags.
  bytes_ = testing::LoadReference("pstsdk_sample1.pst");
  bytes_[kFirstAmapOffset + 495] |= 0x01;
  testing::FixPageCrc(bytes_, kFirstAmapOffset);
  r = Check();
  EXPECT_TRUE(HasFinding(r, "cbAMapFree")) << Describe(r.findings);
  ASSERT_FALSE(r.notes.empty());
  EXPECT_NE(r.notes.back().what.find("marked allocated but unused"), std::string::npos);
}

TEST_F(PstReadCorruption, ReferenceCount) {
  const Bid bid = DataBid(0x8082);
  const std::uint64_t entry = testing::FindLeafEntry(*original_, bytes_, false, bid);
  ASSERT_NE(entry, 0u);
  testing::PutLe16(bytes_, entry + 18, static_cast<std::uint16_t>(Le16(bytes_, entry + 18) + 1));
  testing::FixPageCrc(bytes_, testing::PageOf(entry));
  CheckReport r = Check();
  EXPECT_TRUE(HasFinding(r, "block " + Hex(bid) + ": reference count 3, expected 2")) << Describe(r.findings);
}

TEST_F(PstReadCorruption, FolderCountsAgainstTables) {
  // Sample1 (0x8082) holds one read message; claim two, one unread, and no subfolders on its parent.
  testing::EditBlock(*original_, bytes_, DataBid(0x8082), [](Bytes& data) {
    const std::size_t count = testing::Find(data, {0x02, 0x36, 0x03, 0x00});
    const std::size_t unread = testing::Find(data, {0x03, 0x36, 0x03, 0x00});
    ASSERT_NE(count, std::string::npos);
    ASSERT_NE(unread, std::string::npos);
    testing::PutLe32(data, count + 4, 2);
    testing::PutLe32(data, unread + 4, 1);
  });
  testing::EditBlock(*original_, bytes_, DataBid(0x8022), [](Bytes& data) {
    const std::size_t sub = testing::Find(data, {0x0A, 0x36, 0x0B, 0x00});
    ASSERT_NE(sub, std::string::npos);
    data[sub + 4] = 0;
  });
  CheckReport r = Check();
  EXPECT_TRUE(HasFinding(r, "content count 2 but the contents table has 1 rows")) << Describe(r.findings);
  EXPECT_TRUE(HasFinding(r, "unread count 1 but the contents table has 0 unread rows"));
  EXPECT_TRUE(HasFinding(r, "subfolders flag is clear but the hierarchy table has 2 rows"));
  // The parent's hierarchy row still carries the old count.
  EXPECT_TRUE(HasFinding(r, "hierarchy row 0x8082: table cell 0x3602 is 1 but the object holds 2"));
}

TEST_F(PstReadCorruption, ContentsRowAgainstMessage) {
  // Change the message's own flags (read -> unread) but not its contents-table copy.
  testing::EditBlock(*original_, bytes_, DataBid(0x200024), [](Bytes& data) {
    const std::size_t flags = testing::Find(data, {0x07, 0x0E, 0x03, 0x00});
    ASSERT_NE(flags, std::string::npos);
    data[flags + 4] &= 0xFE;
    // The subject's prefix-length character now promises more than the subject holds.
    const std::size_t subject = testing::Find(data, {0x01, 0x00, 0x01, 0x00, 'H', 0x00});
    ASSERT_NE(subject, std::string::npos);
    data[subject + 2] = 0x7F;
  });
  CheckReport r = Check();
  EXPECT_TRUE(HasFinding(r, "contents row 0x200024: table cell 0xe07 is 49 but the object holds 48"))
      << Describe(r.findings);
  EXPECT_TRUE(HasFinding(r, "message 0x200024: subject prefix length exceeds the subject"));
  EXPECT_TRUE(HasFinding(r, "contents row 0x200024: table cell 0x37"));
}

TEST_F(PstReadCorruption, RowCountOfContentsTable) {
  // Drop the only row from Sample1's contents table by emptying the row index's root.
  testing::EditBlock(*original_, bytes_, DataBid(0x808E), [](Bytes& data) {
    // RowIndex BTH header: 0xB5, key 4, data 4, levels 0, hidRoot.
    const std::size_t bth = testing::Find(data, {0xB5, 0x04, 0x04, 0x00});
    ASSERT_NE(bth, std::string::npos);
    testing::PutLe32(data, bth + 4, 0);
  });
  CheckReport r = Check();
  EXPECT_TRUE(HasFinding(r, "row index has 0 entries but the matrix holds 1 rows")) << Describe(r.findings);
  EXPECT_TRUE(HasFinding(r, "message 0x200024 has this folder as parent but no contents table row"));
  EXPECT_TRUE(HasFinding(r, "content count 1 but the contents table has 0 rows"));
}

TEST_F(PstReadCorruption, NodeParentDisagreesWithTables) {
  const std::uint64_t entry = testing::FindLeafEntry(*original_, bytes_, true, 0x200024);
  ASSERT_NE(entry, 0u);
  testing::PutLe32(bytes_, entry + 24, 0x8062);  // Deleted Items instead of Sample1
  const std::uint64_t folder = testing::FindLeafEntry(*original_, bytes_, true, 0x8082);
  testing::PutLe32(bytes_, folder + 24, 0x200024);  // a folder whose parent is a message
  testing::FixPageCrc(bytes_, testing::PageOf(entry));
  testing::FixPageCrc(bytes_, testing::PageOf(folder));
  CheckReport r = Check();
  EXPECT_TRUE(HasFinding(r, "'Sample1': contents table lists 0x200024, which is no message of this folder"))
      << Describe(r.findings);
  EXPECT_TRUE(HasFinding(r, "'Deleted Items': message 0x200024 has this folder as parent"));
  EXPECT_TRUE(HasFinding(r, "node 0x8082: parent 0x200024 is not a folder"));
}

TEST_F(PstReadCorruption, MissingMandatoryNodeAndBlock) {
  // Point the message store node at a block id nobody wrote, and rename node 0x61 out of the way.
  const std::uint64_t store = testing::FindLeafEntry(*original_, bytes_, true, kNidMessageStore);
  testing::PutLe64(bytes_, store + 8, 0x7FFFFF0);
  testing::FixPageCrc(bytes_, testing::PageOf(store));
  CheckReport r = Check();
  EXPECT_TRUE(HasFinding(r, "node 0x21: refers to block 0x7ffff0 which is not in the BBT") ||
              HasFinding(r, "node 0x21: refers to block 0x7fffff0 which is not in the BBT"))
      << Describe(r.findings);
  // Its old block lost its only reference.
  EXPECT_TRUE(HasFinding(r, "reference count 2, expected 1"));

  // Re-key the name-to-id map (0x61) as 0x7F, which keeps the leaf sorted.
  bytes_ = testing::LoadReference("pstsdk_sample1.pst");
  const std::uint64_t map = testing::FindLeafEntry(*original_, bytes_, true, kNidNameToIdMap);
  ASSERT_NE(map, 0u);
  testing::PutLe32(bytes_, map, 0x7F);
  testing::FixPageCrc(bytes_, testing::PageOf(map));
  r = Check();
  EXPECT_TRUE(HasFinding(r, "mandatory node 0x61 missing")) << Describe(r.findings);
}

TEST_F(PstReadCorruption, TruncatedFilesGiveStatusOrFindings) {
  const Bytes full = bytes_;
  for (std::size_t size : {std::size_t{0}, std::size_t{100}, kHeaderSize - 1, kHeaderSize,
                           std::size_t{0x4400}, std::size_t{0x4600}, full.size() / 2, full.size() - 512}) {
    Bytes cut(full.begin(), full.begin() + size);
    Result<std::unique_ptr<PstFile>> f = PstFile::FromBytes(cut);
    if (!f.ok()) continue;  // refusing to open is a fine answer
    CheckReport r = CheckStore(*f.value());
    EXPECT_FALSE(r.findings.empty()) << "truncated to " << size;
  }
}

TEST_F(PstReadCorruption, RandomDamageNeverCrashes) {
  std::mt19937 rng(20261208);
  const Bytes full = bytes_;
  int reported = 0;
  for (int round = 0; round < 300; ++round) {
    Bytes damaged = full;
    const int flips = 1 + static_cast<int>(rng() % 16);
    for (int i = 0; i < flips; ++i)
      damaged[rng() % damaged.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
    Result<std::unique_ptr<PstFile>> f = PstFile::FromBytes(damaged);
    if (!f.ok()) continue;
    CheckReport r = CheckStore(*f.value());
    if (!r.findings.empty() || !r.notes.empty()) ++reported;
    // Walking everything the reader offers must also end with values or statuses.
    for (const auto& [nid, n] : f.value()->nodes()) {
      if (NidTypeOf(nid) == 0x04) (void)ReadMessage(*f.value(), nid).ok();
    }
  }
  // Most flips land in slack space nothing covers, but many must be caught.
  EXPECT_GT(reported, 30);

  for (int round = 0; round < 50; ++round) {
    Bytes garbage(271360);
    for (auto& b : garbage) b = static_cast<std::uint8_t>(rng());
    // Make it look like a store so the walk goes past the first check.
    std::copy(full.begin(), full.begin() + 16, garbage.begin());
    testing::PutLe64(garbage, 0xE0, (rng() % 500) * 512);
    testing::PutLe64(garbage, 0xF0, (rng() % 500) * 512);
    garbage[0x201] = 1;
    Result<std::unique_ptr<PstFile>> f = PstFile::FromBytes(garbage);
    if (f.ok()) {
      EXPECT_FALSE(CheckStore(*f.value()).findings.empty());
    }
  }
}

}  // namespace
}  // namespace pst::read
