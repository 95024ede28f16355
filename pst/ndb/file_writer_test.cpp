#include "pst/ndb/file_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fs/faulty_env.h"
#include "fs/memory_env.h"
#include "fs/temp_tree_test.h"
#include "pst/ndb/crc.h"
#include "pst/ndb/file_layout.h"
#include "pst/ndb/ndb_test_reader.h"

namespace pst::ndb {
namespace {

namespace fs = std::filesystem;
using test_reader::ParsedFile;
using test_reader::Random;
using test_reader::ReadAll;

Bid WriteStream(NodeSink& sink, const std::vector<std::uint8_t>& data) {
  std::vector<Bid> leaves;
  for (std::size_t off = 0; off < data.size(); off += kMaxBlockData) {
    auto bid = sink.WriteDataBlock(std::span(data).subspan(off, std::min(kMaxBlockData, data.size() - off)));
    EXPECT_TRUE(bid.ok()) << bid.status().ToString();
    if (!bid.ok()) return 0;
    leaves.push_back(bid.value());
  }
  auto top = sink.WriteDataTree(leaves, data.size());
  EXPECT_TRUE(top.ok()) << top.status().ToString();
  return top.ok() ? top.value() : 0;
}

class NdbFileWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = std::make_unique<::fs::testing::TempTree>();
    dir_ = tree_->root();
    target_ = (dir_ / "out.pst").string();
  }
  void TearDown() override { tree_.reset(); }

  std::unique_ptr<FileWriter> Open(FileWriterOptions options = {}) {
    options.sync = false;
    options.unique = 0x1234;
    auto w = FileWriter::Create(target_, options);
    EXPECT_TRUE(w.ok()) << w.status().ToString();
    return w.ok() ? std::move(w).value() : nullptr;
  }

  ParsedFile Parse() {
    auto f = test_reader::ParseFile(target_);
    EXPECT_TRUE(f.ok()) << f.status().ToString();
    return f.ok() ? std::move(f).value() : ParsedFile{};
  }

  // Every AMap equals what the trees and map pages occupy, and cbAMapFree counts the rest.
  void ExpectMapsMatchUsage(const ParsedFile& f) {
    const std::uint64_t regions = (f.fileEof - kFirstRegionOffset) / kRegionSize;
    ASSERT_EQ(f.fileEof, kFirstRegionOffset + regions * kRegionSize);
    EXPECT_EQ(f.amapLast, RegionStart(regions - 1));
    std::uint64_t freeSlots = 0;
    for (std::uint64_t k = 0; k < regions; ++k) {
      const std::uint8_t* page = &f.bytes[RegionStart(k)];
      const std::vector<std::uint8_t> expected = test_reader::ExpectedAMap(f, k);
      ASSERT_TRUE(std::equal(expected.begin(), expected.end(), page)) << "AMap of region " << k;
      const std::uint8_t* t = page + kPageContentSize;
      EXPECT_EQ(t[0], 0x84);
      EXPECT_EQ(t[1], 0x84);
      EXPECT_EQ(Get32(t + 4), ComputeCrc({page, kPageContentSize}));
      EXPECT_EQ(Get64(t + 8), RegionStart(k));
      for (std::uint8_t b : expected) freeSlots += 8 - std::popcount(b);
      if (k % 8 == 0) {
        const std::uint8_t* pm = page + 0x200;
        EXPECT_EQ(pm[kPageContentSize], 0x83) << "PMap of region " << k;
        EXPECT_EQ(Get32(pm + kPageContentSize + 4), ComputeCrc({pm, kPageContentSize}));
      }
    }
    EXPECT_EQ(f.amapFree, freeSlots * kSlotSize);
  }

  std::unique_ptr<::fs::testing::TempTree> tree_;
  fs::path dir_;
  std::string target_;
};

TEST_F(NdbFileWriter, EmptyStoreHasConsistentHeaderTreesAndMaps) {
  auto w = Open();
  ASSERT_TRUE(w->Close().ok());
  ParsedFile f = Parse();
  EXPECT_EQ(f.bytes.size(), kFirstRegionOffset + kRegionSize);
  EXPECT_EQ(f.amapValid, 2);
  EXPECT_EQ(f.crypt, 1);
  EXPECT_EQ(f.unique, 0x1234u);
  EXPECT_EQ(f.bidNextB, 4u);
  EXPECT_TRUE(f.nbt.empty());
  EXPECT_TRUE(f.bbt.empty());
  EXPECT_EQ(f.nbtLevels, 1);
  EXPECT_GT(f.bidNextP, f.maxPageBid);
  EXPECT_EQ(f.nidCounters[2], 0x400u);
  EXPECT_EQ(f.nidCounters[4], 0x10000u);
  EXPECT_EQ(f.nidCounters[3], 0x4000u);
  EXPECT_EQ(f.nidCounters[8], 0x8000u);
  // The density list: valid, empty.
  const std::uint8_t* dl = &f.bytes[kDensityListOffset];
  EXPECT_EQ(dl[kPageContentSize], 0x86);
  EXPECT_EQ(Get32(dl + kPageContentSize + 4), ComputeCrc({dl, kPageContentSize}));
  EXPECT_EQ(dl[1], 0);  // no entries
  ExpectMapsMatchUsage(f);
}

TEST_F(NdbFileWriter, NodesDataTreesAndSubnodesReadBack) {
  auto w = Open();
  const auto small = Random(100, 1);
  const auto two = Random(kMaxBlockData + 3000, 2);
  const auto big = Random(1022 * kMaxBlockData - 10, 3);  // 1,022 leaves: XXBLOCK over two XBLOCKs
  const Bid smallTop = WriteStream(*w, small);
  const Bid twoTop = WriteStream(*w, two);
  const Bid bigTop = WriteStream(*w, big);
  std::vector<SubnodeRef> subs;
  for (std::uint32_t i = 1; i <= 341; ++i)
    subs.push_back({MakeNid(NidType::kLtp, i), i == 7 ? bigTop : 0, 0});
  auto subTop = w->WriteSubnodeTree(subs);
  ASSERT_TRUE(subTop.ok());
  ASSERT_TRUE(w->AddNode(0x21, smallTop, 0, 0).ok());
  ASSERT_TRUE(w->AddNode(0x122, twoTop, subTop.value(), 0x122).ok());
  const Nid msg = w->AllocateNid(NidType::kNormalMessage);
  ASSERT_TRUE(w->AddNode(msg, smallTop, 0, 0x122).ok());  // a block shared by two nodes
  ASSERT_TRUE(w->Close().ok());

  ParsedFile f = Parse();
  ASSERT_EQ(f.nbt.size(), 3u);
  EXPECT_EQ(f.nbt[0x122].parent, 0x122u);
  EXPECT_EQ(f.nbt[msg].parent, 0x122u);
  EXPECT_TRUE(test_reader::ReadStream(f, f.nbt[0x21].data).value() == small);
  EXPECT_TRUE(test_reader::ReadStream(f, f.nbt[0x122].data).value() == two);
  auto subsBack = test_reader::ReadSubnodeTree(f, f.nbt[0x122].sub);
  ASSERT_TRUE(subsBack.ok()) << subsBack.status().ToString();
  ASSERT_EQ(subsBack->size(), 341u);
  EXPECT_TRUE(test_reader::ReadStream(f, (*subsBack)[6].data).value() == big);
  // cRef: the BBT's own count plus one per reference.
  for (const auto& [bid, r] : f.bbt) EXPECT_EQ(r.cref, bid == smallTop ? 3 : 2) << bid;
  EXPECT_EQ(f.bidNextB, f.bbt.rbegin()->first / 4 * 4 + 4);
  EXPECT_EQ(f.nidCounters[4], NidIndexOf(msg));
  EXPECT_GT(f.bidNextP, f.maxPageBid);
  ExpectMapsMatchUsage(f);  // ~8 MB of data: many regions, a PMap at region 8 and 16
}

TEST_F(NdbFileWriter, UnencodedOptionStoresPlainBytes) {
  FileWriterOptions o;
  o.crypt = CryptMethod::kNone;
  auto w = Open(o);
  const std::string text = "plain text that must appear as is";
  const std::vector<std::uint8_t> data(text.begin(), text.end());
  const Bid b = WriteStream(*w, data);
  ASSERT_TRUE(w->AddNode(0x21, b, 0, 0).ok());
  ASSERT_TRUE(w->Close().ok());
  ParsedFile f = Parse();
  EXPECT_EQ(f.crypt, 0);
  EXPECT_NE(ReadAll(target_).find(text), std::string::npos);
  EXPECT_TRUE(test_reader::ReadStream(f, b).value() == data);
}

TEST_F(NdbFileWriter, EncodedDataDoesNotAppearInClear) {
  auto w = Open();
  const std::string text = "secret-ish text that must not appear as is";
  const std::vector<std::uint8_t> data(text.begin(), text.end());
  const Bid b = WriteStream(*w, data);
  ASSERT_TRUE(w->AddNode(0x21, b, 0, 0).ok());
  ASSERT_TRUE(w->Close().ok());
  EXPECT_EQ(ReadAll(target_).find(text), std::string::npos);
  EXPECT_TRUE(test_reader::ReadStream(Parse(), b).value() == data);
}

TEST_F(NdbFileWriter, ManyNodesBuildMultiLevelTrees) {
  auto w = Open();
  const auto data = Random(40, 5);
  const std::size_t kNodes = 100000;
  for (std::size_t i = 0; i < kNodes; ++i) {
    auto b = w->WriteDataBlock(data);
    ASSERT_TRUE(b.ok());
    // Added in an order unlike nid order: the writer sorts.
    const Nid nid =
        MakeNid(NidType::kNormalMessage, static_cast<std::uint32_t>(0x10001 + (i * 7919) % kNodes));
    ASSERT_TRUE(w->AddNode(nid, b.value(), 0, 0x122).ok());
  }
  ASSERT_TRUE(w->Close().ok());
  EXPECT_EQ(w->summary().nbtLevels, 4);  // 6,667 leaves, 334, 17, 1
  EXPECT_EQ(w->summary().bbtLevels, 4);  // 5,000 leaves, 250, 13, 1
  ParsedFile f = Parse();
  EXPECT_EQ(f.nbt.size(), kNodes);
  EXPECT_EQ(f.bbt.size(), kNodes);
  EXPECT_EQ(f.nbtLevels, 4);
  EXPECT_EQ(f.nidCounters[4], 0x10000u + kNodes);
  ExpectMapsMatchUsage(f);
}

TEST_F(NdbFileWriter, UnreferencedBlocksAreLeftOutAndFree) {
  auto w = Open();
  const Bid kept = WriteStream(*w, Random(500, 1));
  // An abandoned attachment: a tree written but never attached to a node.
  const Bid lost = WriteStream(*w, Random(3 * kMaxBlockData, 2));
  const SubnodeRef lostSub[] = {{MakeNid(NidType::kAttachment, 1), lost, 0}};
  ASSERT_TRUE(w->WriteSubnodeTree(lostSub).ok());
  ASSERT_TRUE(w->AddNode(0x21, kept, 0, 0).ok());
  ASSERT_TRUE(w->Close().ok());
  EXPECT_EQ(w->summary().blocks, 1u);
  EXPECT_EQ(w->summary().dropped, 5u);  // 3 leaves, the XBLOCK, the SLBLOCK
  ParsedFile f = Parse();
  ASSERT_EQ(f.bbt.size(), 1u);
  EXPECT_EQ(f.bbt.begin()->second.cref, 2);
  ExpectMapsMatchUsage(f);  // the dropped blocks' slots are free
}

TEST_F(NdbFileWriter, UnreferencedTreesAlreadyOnDiskAreFoundAndDropped) {
  // With small buffers the abandoned tree has long left memory when Close looks at it again.
  FileWriterOptions o;
  o.bufferSize = 64 << 10;
  auto w = Open(o);
  const Bid lost = WriteStream(*w, Random(2 * kMaxBlockData, 1));
  ASSERT_NE(lost & kBidInternalBit, 0u);
  const Bid kept = WriteStream(*w, Random(200 * kMaxBlockData, 2));
  ASSERT_TRUE(w->AddNode(MakeNid(NidType::kLtp, 1), kept, 0, 0).ok());
  ASSERT_TRUE(w->Close().ok());
  EXPECT_EQ(w->summary().dropped, 3u);
  EXPECT_EQ(w->summary().blocks, 201u);
  ParsedFile f = Parse();
  EXPECT_EQ(f.bbt.count(lost), 0u);
  ExpectMapsMatchUsage(f);
}

TEST_F(NdbFileWriter, LargeFileHasFreeMapPage) {
  // Past 128 regions (about 32 MB) the first FMap page appears.
  FileWriterOptions o;
  o.crypt = CryptMethod::kNone;
  auto w = Open(o);
  const auto data = Random(kMaxBlockData * 4200, 9);  // 34 MB
  const Bid top = WriteStream(*w, data);
  ASSERT_TRUE(w->AddNode(MakeNid(NidType::kLtp, 1), top, 0, 0).ok());
  ASSERT_TRUE(w->Close().ok());
  ParsedFile f = Parse();
  const std::uint64_t regions = (f.fileEof - kFirstRegionOffset) / kRegionSize;
  ASSERT_GT(regions, 128u);
  const std::uint8_t* fmap = &f.bytes[RegionStart(128) + 0x400];
  EXPECT_EQ(fmap[kPageContentSize], 0x82);
  EXPECT_EQ(Get32(fmap + kPageContentSize + 4), ComputeCrc({fmap, kPageContentSize}));
  EXPECT_TRUE(test_reader::ReadStream(f, top).value() == data);
  ExpectMapsMatchUsage(f);
}

// Reads a store back with libpff (Debian's python3-pypff), a reader written without our code: the
// message store node is found through a multi-level node B-tree, its property context through
// the block B-tree, and one property's value through a subnode tree of two levels and a data tree
// of two levels, all of it encoded.
TEST_F(NdbFileWriter, IndependentReaderFindsNodeDataThroughAllTrees) {
  if (std::system("/usr/bin/python3 -c 'import pypff' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "python3-pypff is not installed";
  }
  auto w = Open();
  // A string property 0x3001 whose value (1,022 blocks) lives in subnode 0x3F.
  std::vector<std::uint8_t> value;
  for (std::size_t i = 0; value.size() < 1021 * kMaxBlockData + 2; ++i) {
    value.push_back(static_cast<std::uint8_t>('A' + i % 26));
    value.push_back(0);
  }
  const Bid valueTop = WriteStream(*w, value);
  std::vector<SubnodeRef> subs;
  for (std::uint32_t i = 1; i <= 400; ++i)
    subs.push_back({MakeNid(NidType::kLtp, i), i == 1 ? valueTop : 0, 0});
  auto subTop = w->WriteSubnodeTree(subs);
  ASSERT_TRUE(subTop.ok());
  // Heap header, an empty-rooted B-tree header pointing at one record {0x3001, string, 0x3F},
  // and the heap's page map.
  const std::vector<std::uint8_t> heap = {28, 0, 0xEC, 0xBC, 0x20, 0, 0,  0,    0,    0,    0,    0,    0xB5,
                                          2,  6, 0,    0x40, 0,    0, 0,  0x01, 0x30, 0x1F, 0x00, 0x3F, 0,
                                          0,  0, 2,    0,    0,    0, 12, 0,    20,   0,    28,   0};
  auto pc = w->WriteDataBlock(heap);
  ASSERT_TRUE(pc.ok());
  ASSERT_TRUE(w->AddNode(0x21, pc.value(), subTop.value(), 0).ok());
  for (std::uint32_t i = 0; i < 30000; ++i) {
    ASSERT_TRUE(w->AddNode(MakeNid(NidType::kNormalMessage, 0x10001 + i), 0, 0, 0x122).ok());
  }
  ASSERT_TRUE(w->Close().ok());
  ASSERT_GE(w->summary().nbtLevels, 3);

  const std::string expected = (dir_ / "expected.bin").string();
  std::ofstream(expected, std::ios::binary)
      .write(reinterpret_cast<const char*>(value.data()), static_cast<std::streamsize>(value.size()));
  const std::string script =
      "import pypff,sys\n"
      "f=pypff.file(); f.open(sys.argv[1])\n"
      "e=f.get_message_store().get_record_set(0).get_entry(0)\n"
      "print(hex(e.entry_type), hex(e.value_type), e.data==open(sys.argv[2],'rb').read(), "
      "f.encryption_type)\n";
  const std::string scriptPath = (dir_ / "read.py").string();
  std::ofstream(scriptPath) << script;
  FILE* out =
      ::popen(("/usr/bin/python3 " + scriptPath + " " + target_ + " " + expected + " 2>&1").c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string text;
  char line[512];
  while (std::fgets(line, sizeof line, out) != nullptr) text += line;
  ::pclose(out);
  EXPECT_EQ(text, "0x3001 0x1f True 1\n");
}

TEST_F(NdbFileWriter, TargetIsReplacedOnlyByClose) {
  { std::ofstream(target_) << "old contents"; }
  fs::permissions(target_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const fs::perms before = fs::status(target_).permissions() & fs::perms::all;  // less on Windows
  auto w = Open();
  const fs::path temp = w->temporaryPath();
  EXPECT_EQ(temp.parent_path(), fs::path(target_).parent_path());
  const Bid b = WriteStream(*w, Random(20000, 4));
  ASSERT_TRUE(w->AddNode(0x21, b, 0, 0).ok());
  EXPECT_TRUE(fs::exists(temp));
  EXPECT_EQ(ReadAll(target_), "old contents");
  ASSERT_TRUE(w->Close().ok());
  EXPECT_FALSE(fs::exists(temp));
  EXPECT_EQ(ReadAll(target_).substr(0, 4), "!BDN");
  // The replacement keeps the permissions of the file it replaces.
  EXPECT_EQ(fs::status(target_).permissions() & fs::perms::all, before);
  EXPECT_FALSE(w->Close().ok());  // only once
}

TEST_F(NdbFileWriter, AbandonAndDestructionLeaveNothingBehind) {
  { std::ofstream(target_) << "old contents"; }
  {
    auto w = Open();
    ASSERT_TRUE(w->WriteDataBlock(Random(100, 1)).ok());
    const fs::path temp = w->temporaryPath();
    w->Abandon();
    EXPECT_FALSE(fs::exists(temp));
    EXPECT_FALSE(w->WriteDataBlock(Random(100, 1)).ok());
    EXPECT_FALSE(w->Close().ok());
  }
  {
    auto w = Open();
    ASSERT_TRUE(w->WriteDataBlock(Random(100, 1)).ok());
  }  // destroyed without Close
  EXPECT_EQ(ReadAll(target_), "old contents");
  std::size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir_)) entries += e.path() != fs::path(target_);
  EXPECT_EQ(entries, 0u);
}

// A file system that refuses the file beyond a size (as a full disk or a file-size limit does): the
// third write of the file comes up short and the one after it fails.
TEST_F(NdbFileWriter, WriteFailureIsReportedAndLeavesTargetUntouched) {
  { std::ofstream(target_) << "old contents"; }
  ::fs::FaultyEnv env(::fs::SystemEnv());
  FileWriterOptions o;
  o.bufferSize = 64 << 10;
  o.sync = false;
  o.env = &env;
  auto w = FileWriter::Create(target_, o);
  ASSERT_TRUE(w.ok()) << w.status().ToString();
  env.FailCall(3, EFBIG, ::fs::FaultyEnv::Fault::kShortThenError);
  const auto data = Random(3 << 20, 1);
  // The failure may surface at a later write (writes run behind) or only at Close; either way no
  // write of the file is made after it.
  std::uint64_t callsAtFailure = 0;
  for (std::size_t off = 0; off < data.size(); off += kMaxBlockData) {
    if (!w.value()
             ->WriteDataBlock(std::span(data).subspan(off, std::min(kMaxBlockData, data.size() - off)))
             .ok()) {
      callsAtFailure = env.calls();
      break;
    }
  }
  EXPECT_NE(callsAtFailure, 0u) << "the failure surfaced only at Close";
  const quill::Status closed = w.value()->Close();
  EXPECT_EQ(env.faulted(), "write");
  EXPECT_EQ(closed.code(), quill::Status::Code::kIOError);
  EXPECT_EQ(closed.message(), "write failed (" + std::string(std::strerror(EFBIG)) + "): " + target_);
  // Close only looked at its file and removed it.
  EXPECT_LE(env.calls(), callsAtFailure + 3);
  EXPECT_FALSE(fs::exists(w.value()->temporaryPath()));
  EXPECT_EQ(ReadAll(target_), "old contents");
  std::size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir_)) entries += e.path() != fs::path(target_);
  EXPECT_EQ(entries, 0u);
}

// A file handed in is written and completed in place, and stays the caller's: here one in memory
// that held a longer file before, whose tail must not survive.
TEST_F(NdbFileWriter, AHandedInFileIsCompletedInPlace) {
  ::fs::MemoryEnv memory;
  std::unique_ptr<::fs::Directory> dir;
  ASSERT_EQ(memory.OpenDirectory("/", &dir), 0);
  std::unique_ptr<::fs::WritableFile> file;
  ASSERT_EQ(dir->OpenFile("store.pst", ::fs::OpenMode::kCreateOrOpen, 0644, &file), 0);
  const std::vector<std::uint8_t> old(3 << 20, 0xEE);
  std::size_t n = 0;
  ASSERT_EQ(file->WriteAt(0, old.data(), old.size(), &n), 0);

  FileWriterOptions o;
  o.unique = 0x1234;
  auto w = FileWriter::Open(file.get(), "store.pst", o);
  ASSERT_TRUE(w.ok()) << w.status().ToString();
  const auto data = Random(100000, 5);
  const Bid tree = WriteStream(*w.value(), data);
  ASSERT_TRUE(w.value()->AddNode(0x21, tree, 0, 0).ok());
  ASSERT_TRUE(w.value()->Close().ok());
  EXPECT_EQ(w.value()->writtenPath(), "store.pst");
  EXPECT_EQ(w.value()->temporaryPath(), "");
  w.value().reset();

  // Still open, and holding exactly the store.
  ::fs::FileInfo info;
  ASSERT_EQ(file->Stat(&info), 0);
  EXPECT_LT(info.size, old.size());
  std::string bytes;
  ASSERT_EQ(::fs::ReadWholeFile(memory, "/store.pst", 1 << 30, &bytes), 0);
  EXPECT_EQ(bytes.size(), info.size);
  std::ofstream(target_, std::ios::binary) << bytes;
  ParsedFile f = Parse();
  EXPECT_EQ(f.fileEof, bytes.size());
  auto back = test_reader::ReadStream(f, f.nbt[0x21].data);
  ASSERT_TRUE(back.ok()) << back.status().ToString();
  EXPECT_TRUE(back.value() == data);
}

TEST_F(NdbFileWriter, CreateReportsUnusableTargets) {
  auto missing = FileWriter::Create((dir_ / "no-such-folder" / "x.pst").string());
  EXPECT_EQ(missing.status().code(), quill::Status::Code::kIOError);
  auto folder = FileWriter::Create(dir_.string());
  EXPECT_EQ(folder.status().code(), quill::Status::Code::kIOError);
}

}  // namespace
}  // namespace pst::ndb
