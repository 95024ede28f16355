// The read path on shapes that only big stores have: XXBLOCK data trees, SIBLOCK subnode trees,
// two-level B-trees, heaps over many blocks (including the block-8 bitmap header), BTH index
// levels, and table row matrices kept in subnodes. The stores are built by TestStoreBuilder.
#include <gtest/gtest.h>

#include "pst/read/checker.h"
#include "pst/read/property_context.h"
#include "pst/read/table_context.h"
#include "pst/read/test_store_builder.h"

namespace pst::read {
namespace {

using testing::Bytes;
using testing::MakeHeapBlock;
using testing::MakeHid;
using testing::PutLe16;
using testing::PutLe32;
using testing::PutLe64;

Bytes Utf16(const std::string& ascii) {
  Bytes out;
  for (char c : ascii) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(0);
  }
  return out;
}

std::unique_ptr<PstFile> Open(Bytes bytes) {
  Result<std::unique_ptr<PstFile>> f = PstFile::FromBytes(std::move(bytes));
  EXPECT_TRUE(f.ok()) << f.status().ToString();
  if (!f.ok()) return nullptr;
  EXPECT_TRUE(f.value()->findings().empty()) << testing::Describe(f.value()->findings());
  return std::move(f).value();
}

TEST(PstReadLarge, DeepDataTreesSubnodeIndexAndTwoLevelBtrees) {
  testing::TestStoreBuilder b;
  std::vector<Bytes> leaves;
  Bytes expected;
  for (int i = 0; i < 30; ++i) {
    leaves.emplace_back(100 + i, static_cast<std::uint8_t>(i));
    expected.insert(expected.end(), leaves.back().begin(), leaves.back().end());
  }
  const Bid deep = b.AddDataTree(leaves, 8);  // 30 leaves, 8 per XBLOCK: an XXBLOCK over four
  const Bid value = b.AddDataBlock(Bytes{1, 2, 3});
  std::vector<SubnodeEntry> subs;
  for (Nid i = 1; i <= 700; ++i) subs.push_back({(i << 5) | 0x1F, value, 0});
  const Bid sub_tree = b.AddSubnodeTree(subs);  // 700 entries: an SIBLOCK over three SLBLOCKs
  b.AddNode(0x21, deep, sub_tree, 0);
  for (Nid i = 1; i <= 40; ++i) b.AddNode((0x400 + i) << 5 | 0x04, value, 0, 0x122);  // two NBT levels
  std::unique_ptr<PstFile> file = Open(b.Finish());
  ASSERT_TRUE(file);
  EXPECT_EQ(file->nodes().size(), 41u);
  bool two_levels = false;
  for (const BtPage& p : file->pages()) two_levels = two_levels || (p.ptype == kPtypeNbt && p.level == 1);
  EXPECT_TRUE(two_levels);

  Result<Node> node = file->LoadNode(0x21);
  ASSERT_TRUE(node.ok()) << node.status().ToString();
  ASSERT_EQ(node->blocks.size(), 30u);
  Result<std::vector<std::uint8_t>> stream = file->ReadStream(deep);
  ASSERT_TRUE(stream.ok());
  EXPECT_EQ(stream.value(), expected);
  ASSERT_EQ(node->subnodes.size(), 700u);
  EXPECT_EQ(node->subnodes.begin()->first, 0x3Fu);
  EXPECT_EQ(node->subnodes.rbegin()->first, (700u << 5) | 0x1F);
  Result<Node> sub = file->LoadSubnode(node.value(), (350u << 5) | 0x1F);
  ASSERT_TRUE(sub.ok());
  EXPECT_EQ(sub->blocks.at(0), (Bytes{1, 2, 3}));

  // The block and B-tree checks accept these shapes; what remains is about what the builder leaves
  // out (allocation maps, the store's mandatory nodes and folders).
  CheckReport report = CheckStore(*file);
  EXPECT_FALSE(report.findings.empty());
  for (const Finding& f : report.findings) {
    const std::string text = f.where + ": " + f.what;
    for (const char* word : {"block", "NBT page", "BBT page", "subnode", "data tree", "overlaps"}) {
      EXPECT_EQ(text.find(word), std::string::npos) << text;
    }
  }
}

TEST(PstReadLarge, DataTreeThatLiesAboutItsSize) {
  testing::TestStoreBuilder b;
  const Bid tree = b.AddDataTree({Bytes(10, 1), Bytes(10, 2)});
  b.AddNode(0x21, tree, 0, 0);
  Bytes bytes = b.Finish();
  std::unique_ptr<PstFile> file = Open(bytes);
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->ReadStream(tree).ok());
  // Claim 21 bytes for 20 in the XBLOCK (keeping its CRC right): the read must fail.
  const BlockEntry& x = file->blocks().at(tree);
  PutLe32(bytes, x.ib + 4, 21);
  Bytes data(bytes.begin() + x.ib, bytes.begin() + x.ib + x.cb);
  PutLe32(bytes, x.ib + BlockDiskSize(x.cb) - kBlockTrailerSize + 4, PstCrc(data));
  file = Open(bytes);
  ASSERT_TRUE(file);
  Result<std::vector<std::uint8_t>> stream = file->ReadStream(tree);
  ASSERT_FALSE(stream.ok());
  EXPECT_NE(stream.status().message().find("claims 21"), std::string::npos) << stream.status().message();
}

TEST(PstReadLarge, PropertyContextOverTenHeapBlocks) {
  testing::TestStoreBuilder b;
  std::vector<Bytes> heap(10);
  std::vector<Bytes> index;  // (first key, hid of leaf array) per leaf block
  for (std::uint32_t k = 1; k <= 9; ++k) {
    Bytes leaf;
    for (std::uint16_t j = 0; j < 2; ++j) {
      Bytes rec(8, 0);
      PutLe16(rec, 0, static_cast<std::uint16_t>(0x6600 + 2 * k + j));
      PutLe16(rec, 2, prop_type::kInt32);
      PutLe32(rec, 4, k * 10 + j);
      leaf.insert(leaf.end(), rec.begin(), rec.end());
    }
    std::vector<Bytes> allocs{leaf};
    if (k == 9) {  // the last leaf also holds a string, a time and a value kept in a subnode
      auto add = [&](std::uint16_t id, std::uint16_t type, std::uint32_t hnid) {
        Bytes rec(8, 0);
        PutLe16(rec, 0, id);
        PutLe16(rec, 2, type);
        PutLe32(rec, 4, hnid);
        allocs[0].insert(allocs[0].end(), rec.begin(), rec.end());
      };
      add(0x6700, prop_type::kString, MakeHid(9, 2));
      add(0x6701, prop_type::kBinary, 0x3F);
      add(0x6702, prop_type::kTime, MakeHid(9, 3));
      allocs.push_back(Utf16("Hello"));
      Bytes time(8, 0);
      PutLe64(time, 0, 0x01D9000000000000ull);
      allocs.push_back(time);
    }
    heap[k] = MakeHeapBlock(k, 0, 0, allocs);
    Bytes rec(6, 0);
    PutLe16(rec, 0, static_cast<std::uint16_t>(0x6600 + 2 * k));
    PutLe32(rec, 2, MakeHid(k, 1));
    index.push_back(rec);
  }
  Bytes bth_header{kClientBth, 2, 6, 1, 0, 0, 0, 0};
  PutLe32(bth_header, 4, MakeHid(0, 2));
  Bytes index_array;
  for (const Bytes& r : index) index_array.insert(index_array.end(), r.begin(), r.end());
  heap[0] = MakeHeapBlock(0, kClientProperties, MakeHid(0, 1), {bth_header, index_array});
  const Bid data = b.AddDataTree(heap);
  const Bytes big(5000, 0x5A);
  const Bid sub = b.AddSubnodeTree({{0x3F, b.AddDataBlock(big), 0}});
  b.AddNode(0x8022, data, sub, 0x122);
  std::unique_ptr<PstFile> file = Open(b.Finish());
  ASSERT_TRUE(file);
  Result<Node> node = file->LoadNode(0x8022);
  ASSERT_TRUE(node.ok()) << node.status().ToString();
  Result<PropertyContext> pc = ReadPropertyContext(*file, node.value());
  ASSERT_TRUE(pc.ok()) << pc.status().ToString();
  EXPECT_TRUE(pc->issues.empty()) << pc->issues.front();
  EXPECT_EQ(pc->props.size(), 21u);
  EXPECT_EQ(GetInt32(pc->props, 0x6602), 10);
  EXPECT_EQ(GetInt32(pc->props, 0x6613), 91);  // block 9, second record
  EXPECT_EQ(GetString(pc->props, 0x6700), "Hello");
  EXPECT_EQ(GetBinary(pc->props, 0x6701), big);
  EXPECT_EQ(GetUint64(pc->props, 0x6702), 0x01D9000000000000ull);
}

TEST(PstReadLarge, TableWithRowMatrixInSubnodeAndIndexedRows) {
  constexpr std::uint32_t kRows = 1000;
  constexpr std::size_t kRowSize = 17;  // rowid, rowver, flags, name hnid, one bitmap byte
  constexpr std::size_t kRowsPerBlock = kMaxBlockData / kRowSize;
  auto row_id = [](std::uint32_t i) { return ((0x10000 + i) << 5) | 0x04; };
  testing::TestStoreBuilder b;

  // Row index: three leaf arrays in heap blocks 1..3 and an index array in block 0. Rows sit in the
  // matrix in reverse order of their ids, so only the index ties them together.
  std::vector<Bytes> heap(4);
  Bytes index_array;
  for (std::uint32_t k = 0; k < 3; ++k) {
    const std::uint32_t first = k * 400, last = std::min(kRows, first + 400);
    Bytes leaf;
    for (std::uint32_t i = first; i < last; ++i) {
      Bytes rec(8, 0);
      PutLe32(rec, 0, row_id(i));
      PutLe32(rec, 4, kRows - 1 - i);
      leaf.insert(leaf.end(), rec.begin(), rec.end());
    }
    heap[k + 1] = MakeHeapBlock(k + 1, 0, 0, {leaf});
    Bytes rec(8, 0);
    PutLe32(rec, 0, row_id(first));
    PutLe32(rec, 4, MakeHid(k + 1, 1));
    index_array.insert(index_array.end(), rec.begin(), rec.end());
  }
  Bytes bth_header{kClientBth, 4, 4, 1, 0, 0, 0, 0};
  PutLe32(bth_header, 4, MakeHid(0, 3));
  const std::uint32_t columns[][4] = {
      {0x0E070003, 8, 4, 2}, {0x3001001F, 12, 4, 3}, {0x67F20003, 0, 4, 0}, {0x67F30003, 4, 4, 1}};
  Bytes info(22 + 8 * 4, 0);
  info[0] = kClientTable;
  info[1] = 4;
  PutLe16(info, 2, 16);
  PutLe16(info, 4, 16);
  PutLe16(info, 6, 16);
  PutLe16(info, 8, 17);
  PutLe32(info, 10, MakeHid(0, 1));
  PutLe32(info, 14, 0x3F);  // the matrix lives in subnode 0x3F
  for (int c = 0; c < 4; ++c) {
    PutLe32(info, 22 + 8 * c, columns[c][0]);
    PutLe16(info, 26 + 8 * c, static_cast<std::uint16_t>(columns[c][1]));
    info[28 + 8 * c] = static_cast<std::uint8_t>(columns[c][2]);
    info[29 + 8 * c] = static_cast<std::uint8_t>(columns[c][3]);
  }
  heap[0] = MakeHeapBlock(0, kClientTable, MakeHid(0, 2), {bth_header, info, index_array, Utf16("first")});

  std::vector<Bytes> matrix;
  for (std::uint32_t m = 0; m < kRows; ++m) {
    if (m % kRowsPerBlock == 0) matrix.emplace_back();
    const std::uint32_t i = kRows - 1 - m;
    Bytes row(kRowSize, 0);
    PutLe32(row, 0, row_id(i));
    PutLe32(row, 4, 1);
    PutLe32(row, 8, i);
    row[16] = 0xE0;
    if (i == 0) {
      PutLe32(row, 12, MakeHid(0, 4));
      row[16] |= 0x10;
    }
    matrix.back().insert(matrix.back().end(), row.begin(), row.end());
  }
  for (std::size_t k = 0; k + 1 < matrix.size(); ++k)
    matrix[k].resize(kMaxBlockData, 0);  // dead space after whole rows
  const Bid rows = b.AddDataTree(matrix);
  const Bid sub = b.AddSubnodeTree({{0x3F, rows, 0}});
  b.AddNode(0x802E, b.AddDataTree(heap), sub, 0);
  std::unique_ptr<PstFile> file = Open(b.Finish());
  ASSERT_TRUE(file);
  Result<Node> node = file->LoadNode(0x802E);
  ASSERT_TRUE(node.ok()) << node.status().ToString();
  Result<TableContext> tc = ReadTableContext(*file, node.value());
  ASSERT_TRUE(tc.ok()) << tc.status().ToString();
  EXPECT_TRUE(tc->issues.empty()) << tc->issues.front();
  EXPECT_EQ(tc->row_index_entries, kRows);
  EXPECT_EQ(tc->matrix_rows, kRows);
  ASSERT_EQ(tc->rows.size(), kRows);
  for (std::uint32_t m = 0; m < kRows; m += 97) {
    const std::uint32_t i = kRows - 1 - m;
    EXPECT_EQ(tc->rows[m].row_id, row_id(i));
    EXPECT_EQ(GetInt32(tc->rows[m].cells, 0x0E07), static_cast<std::int32_t>(i));
  }
  EXPECT_EQ(GetString(tc->rows.back().cells, 0x3001), "first");
  EXPECT_FALSE(tc->rows.front().cells.count(0x3001));  // existence bit clear: no value
}

}  // namespace
}  // namespace pst::read
