#include "pst/ltp/table_context.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <set>

#include "common/text.h"
#include "pst/ltp/heap_builder.h"
#include "pst/ltp/ltp_test_support.h"

namespace pst::ltp {
namespace {

using testing::Bytes;
using testing::FakeSink;
using testing::Le;
using testing::Utf16Le;

// Column sets of the folder and message table templates, as Outlook lays them out.
const std::vector<PropTag> kHierarchyColumns = {0x67F20003, 0x67F30003, 0x3001001F, 0x36020003, 0x36030003,
                                                0x360A000B, 0x0E300003, 0x0E330014, 0x0E340102, 0x0E380003,
                                                0x3613001F, 0x66350003, 0x66360003};
const std::vector<PropTag> kContentsColumns = {
    0x67F20003, 0x67F30003, 0x0E170003, 0x001A001F, 0x0E070003, 0x00170003, 0x0042001F,
    0x0037001F, 0x0E060040, 0x00390040, 0x0E080003, 0x0E04001F, 0x0E03001F, 0x0057000B,
    0x0058000B, 0x00360003, 0x10970003, 0x0070001F, 0x00710102, 0x65C60003, 0x30080040,
    0x0E300003, 0x0E330014, 0x0E340102, 0x0E3D0102, 0x0E3C0102, 0x0E380003};
const std::vector<PropTag> kRecipientColumns = {0x67F20003, 0x67F30003, 0x0E0F000B, 0x3002001F, 0x3003001F,
                                                0x0FFF0102, 0x3001001F, 0x0C150003, 0x300B0102, 0x0FF90102,
                                                0x0FFE0003, 0x39000003, 0x3A40000B, 0x39FF001F};
const std::vector<PropTag> kAttachmentColumns = {0x67F20003, 0x67F30003, 0x370B0003,
                                                 0x0E200003, 0x37050003, 0x3704001F};

TEST(LtpTableLayout, MatchesTheRowSizesOutlookWrites) {
  struct Case {
    const std::vector<PropTag>* columns;
    std::uint16_t rgib[4];
  };
  for (const Case& c :
       {Case{&kHierarchyColumns, {52, 52, 53, 55}}, Case{&kContentsColumns, {116, 116, 118, 122}},
        Case{&kRecipientColumns, {48, 48, 50, 52}}, Case{&kAttachmentColumns, {24, 24, 24, 25}}}) {
    quill::Result<TableLayout> layout = TableLayout::Make(*c.columns);
    ASSERT_TRUE(layout.ok());
    EXPECT_EQ(layout->end4(), c.rgib[0]);
    EXPECT_EQ(layout->end2(), c.rgib[1]);
    EXPECT_EQ(layout->end1(), c.rgib[2]);
    EXPECT_EQ(layout->rowSize(), c.rgib[3]);

    // Cells sit in their size group, aligned, without overlap; bits are 0..n-1 once each.
    std::vector<int> owner(layout->rowSize(), -1);
    std::set<int> bits;
    for (const TableColumn& col : layout->columns()) {
      const std::size_t size = col.size;
      if (size >= 4) {
        EXPECT_EQ(col.offset % 4, 0) << std::hex << col.tag;
        EXPECT_LE(col.offset + size, layout->end4());
      } else if (size == 2) {
        EXPECT_GE(col.offset, layout->end4());
        EXPECT_LE(col.offset + size, layout->end2());
      } else {
        EXPECT_GE(col.offset, layout->end2());
        EXPECT_LE(col.offset + size, layout->end1());
      }
      for (std::size_t i = 0; i < size; ++i) {
        EXPECT_EQ(owner[col.offset + i], -1) << "overlap at " << col.offset + i;
        owner[col.offset + i] = static_cast<int>(col.tag);
      }
      bits.insert(col.bit);
    }
    EXPECT_EQ(bits.size(), c.columns->size());
    EXPECT_EQ(*bits.rbegin(), static_cast<int>(c.columns->size()) - 1);
    const TableColumn* rowId = layout->Find(kTagLtpRowId);
    const TableColumn* rowVer = layout->Find(kTagLtpRowVer);
    ASSERT_TRUE(rowId && rowVer);
    EXPECT_EQ(rowId->offset, 0);
    EXPECT_EQ(rowId->bit, 0);
    EXPECT_EQ(rowVer->offset, 4);
    EXPECT_EQ(rowVer->bit, 1);
  }
}

TEST(LtpTableLayout, RejectsBadColumnSets) {
  EXPECT_FALSE(TableLayout::Make(std::vector<PropTag>{0x3001001F, 0x3001001F}).ok());
  EXPECT_FALSE(TableLayout::Make(std::vector<PropTag>{0x30010099}).ok());
  std::vector<PropTag> many;
  for (std::uint32_t i = 0; i < 254; ++i) many.push_back(((0x4000 + i) << 16) | 0x0003);
  EXPECT_FALSE(TableLayout::Make(many).ok()) << "256 columns with row id and version";
  many.pop_back();
  EXPECT_TRUE(TableLayout::Make(many).ok());
}

NodeContent BuildOrDie(TableContextBuilder& tc) {
  quill::Result<NodeContent> content = tc.Build();
  EXPECT_TRUE(content.ok()) << content.status().ToString();
  return content.ok() ? *content : NodeContent{};
}

TEST(LtpTableContext, EmptyTable) {
  FakeSink sink;
  auto tc = TableContextBuilder::Create(sink, kHierarchyColumns);
  ASSERT_TRUE(tc.ok());
  const NodeContent content = BuildOrDie(*tc);
  testing::ParsedTable table = testing::ReadTableContext(sink, content);
  ASSERT_TRUE(table.ok);
  EXPECT_EQ(table.hnidRows, 0u);
  EXPECT_TRUE(table.rows.empty());
  EXPECT_EQ(table.columns.size(), kHierarchyColumns.size());
  // Outlook's order: row index header 0x20, TCINFO 0x40 as the user root.
  EXPECT_EQ(table.heap.userRoot, 0x40u);
  EXPECT_EQ(Le(*table.heap.Item(0x40), 10, 4), 0x20u);
}

TEST(LtpTableContext, CellsRoundTrip) {
  FakeSink sink;
  const std::vector<PropTag> columns = {0x3001001F, 0x36020003, 0x360A000B, 0x0E330014,
                                        0x3A4D0002, 0x0E340102, 0x30070040};
  auto tc = TableContextBuilder::Create(sink, columns);
  ASSERT_TRUE(tc.ok());
  const std::u16string longName(2000, u'\u00e9');  // 4,000 bytes: past the heap limit
  const std::vector<TableCell> first = {{0x3001001F, PropValue::String(u"Inbox")},
                                        {0x36020003, PropValue::Int32(12)},
                                        {0x360A000B, PropValue::Bool(true)},
                                        {0x0E330014, PropValue::Int64(-5)},
                                        {0x3A4D0002, PropValue::Int16(0x1234)},
                                        {0x0E340102, PropValue::Binary(Bytes{1, 2, 3})},
                                        {0x30070040, PropValue::Time(0x01D8FFFFFFFFFFFF)},
                                        {kTagLtpRowVer, PropValue::Int32(7)}};
  const std::vector<TableCell> second = {{0x3001001F, PropValue::String(u"")},
                                         {0x36020003, PropValue::Int32(0)}};
  const std::vector<TableCell> third = {{0x3001001F, PropValue::String(longName)}};
  ASSERT_TRUE(tc->AddRow(0x8062, first).ok());
  ASSERT_TRUE(tc->AddRow(0x8022, second).ok());
  ASSERT_TRUE(tc->AddRow(0x80042, third).ok());
  EXPECT_EQ(tc->rowCount(), 3u);
  const NodeContent content = BuildOrDie(*tc);
  testing::ParsedTable t = testing::ReadTableContext(sink, content);
  ASSERT_TRUE(t.ok);
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_TRUE(IsHid(t.hnidRows)) << "three rows fit the heap";
  // Index sorted by row id; matrix in the order rows were added.
  EXPECT_EQ(t.indexKeys, (std::vector<std::uint32_t>{0x8022, 0x8062, 0x80042}));
  EXPECT_EQ(t.indexRows, (std::vector<std::uint32_t>{1, 0, 2}));

  EXPECT_EQ(t.Cell(sink, content, 0, 0x3001001F), Utf16Le(u"Inbox"));
  EXPECT_EQ(t.Cell(sink, content, 0, 0x36020003), (Bytes{12, 0, 0, 0}));
  EXPECT_EQ(t.Cell(sink, content, 0, 0x360A000B), Bytes{1});
  EXPECT_EQ(t.Cell(sink, content, 0, 0x0E330014), (Bytes{0xFB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(t.Cell(sink, content, 0, 0x3A4D0002), (Bytes{0x34, 0x12}));
  EXPECT_EQ(t.Cell(sink, content, 0, 0x0E340102), (Bytes{1, 2, 3}));
  EXPECT_EQ(Le(*t.Cell(sink, content, 0, 0x30070040), 0, 8), 0x01D8FFFFFFFFFFFFu);
  EXPECT_EQ(t.Cell(sink, content, 0, kTagLtpRowVer), (Bytes{7, 0, 0, 0}));
  EXPECT_EQ(t.Cell(sink, content, 1, kTagLtpRowVer), (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(t.Cell(sink, content, 1, kTagLtpRowId), (Bytes{0x22, 0x80, 0, 0}));

  // An empty string and unset columns are absent, and absent cells hold zeros.
  EXPECT_EQ(t.Cell(sink, content, 1, 0x3001001F), std::nullopt);
  EXPECT_EQ(t.Cell(sink, content, 1, 0x36020003), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(t.Cell(sink, content, 1, 0x360A000B), std::nullopt);
  for (const testing::ParsedColumn& c : t.columns) {
    if (c.tag == 0x36020003 || c.tag == kTagLtpRowId || c.tag == kTagLtpRowVer) continue;
    EXPECT_EQ(Bytes(t.rows[1].begin() + c.offset, t.rows[1].begin() + c.offset + c.size), Bytes(c.size, 0));
  }
  // Unused trailing bits of the existence bitmap stay clear.
  EXPECT_EQ(t.rows[0][t.rgib[3] - 1] & 0x7F, 0);

  const std::optional<Bytes> big = t.Cell(sink, content, 2, 0x3001001F);
  ASSERT_TRUE(big.has_value());
  EXPECT_EQ(*big, Utf16Le(longName));
  ASSERT_EQ(content.subnodes.size(), 1u);
  EXPECT_EQ(content.subnodes[0].nid & 0x1F, 0x1Fu);
}

// A table whose rows hold only row id and version: 4 + 4 + 1 bitmap byte.
constexpr std::size_t kTinyRow = 9;

struct MatrixShape {
  bool inHeap = false;
  std::vector<std::size_t> blockSizes;
};

MatrixShape BuildTiny(std::size_t rows) {
  FakeSink sink;
  auto tc = TableContextBuilder::Create(sink, {});
  EXPECT_TRUE(tc.ok());
  EXPECT_EQ(tc->layout().rowSize(), kTinyRow);
  for (std::size_t i = 0; i < rows; ++i)
    EXPECT_TRUE(tc->AddRow(static_cast<std::uint32_t>(1000 + i), {}).ok());
  const NodeContent content = BuildOrDie(*tc);
  testing::ParsedTable t = testing::ReadTableContext(sink, content);
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(t.rows.size(), rows);
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    if (Le(t.rows[i], 0, 4) != 1000 + i) {
      ADD_FAILURE() << "row " << i << " holds the wrong id";
      break;
    }
  }
  MatrixShape shape;
  shape.inHeap = IsHid(t.hnidRows);
  for (const Bytes& b : t.matrixBlocks) shape.blockSizes.push_back(b.size());
  return shape;
}

TEST(LtpTableContext, RowMatrixPlacementAtItsBoundaries) {
  const std::size_t heapRows = kMaxHeapItem / kTinyRow;         // 397 rows = 3,573 bytes
  const std::size_t blockRows = ndb::kMaxBlockData / kTinyRow;  // 908 rows = 8,172 bytes
  EXPECT_TRUE(BuildTiny(heapRows).inHeap);

  MatrixShape justPastHeap = BuildTiny(heapRows + 1);
  EXPECT_FALSE(justPastHeap.inHeap);
  EXPECT_EQ(justPastHeap.blockSizes, (std::vector<std::size_t>{(heapRows + 1) * kTinyRow}));

  EXPECT_EQ(BuildTiny(blockRows).blockSizes, (std::vector<std::size_t>{blockRows * kTinyRow}));
  // One row more opens a second block; the first is padded to a full block after its last whole row.
  EXPECT_EQ(BuildTiny(blockRows + 1).blockSizes, (std::vector<std::size_t>{ndb::kMaxBlockData, kTinyRow}));
  EXPECT_EQ(BuildTiny(2 * blockRows + 5).blockSizes,
            (std::vector<std::size_t>{ndb::kMaxBlockData, ndb::kMaxBlockData, 5 * kTinyRow}));
}

TEST(LtpTableContext, HundredThousandRows) {
  FakeSink sink;
  auto tc = TableContextBuilder::Create(sink, kContentsColumns);
  ASSERT_TRUE(tc.ok());
  constexpr std::uint32_t kRows = 100000;
  const auto start = std::chrono::steady_clock::now();
  for (std::uint32_t i = 0; i < kRows; ++i) {
    // Row ids descending so the index order differs from the matrix order.
    const std::vector<TableCell> cells = {{0x0037001F, PropValue::StringUtf8("Message " + std::to_string(i))},
                                          {0x0E080003, PropValue::Int32(static_cast<std::int32_t>(i))},
                                          {0x0E070003, PropValue::Int32(i % 2)},
                                          {0x0E060040, PropValue::Time(0x01D9000000000000ull + i)}};
    ASSERT_TRUE(tc->AddRow(ndb::MakeNid(ndb::NidType::kNormalMessage, 0x10000 + kRows - i), cells).ok());
  }
  const NodeContent content = BuildOrDie(*tc);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::cout << "100000 rows built in " << seconds << " s, heap blocks " << sink.Leaves(content.data).size()
            << "\n";

  testing::ParsedTable t = testing::ReadTableContext(sink, content);
  ASSERT_TRUE(t.ok);
  ASSERT_EQ(t.rows.size(), kRows);
  EXPECT_GT(sink.Leaves(content.data).size(), 1u) << "heap spans several blocks";
  EXPECT_EQ(testing::ParseBth(t.heap, Le(*t.heap.Item(t.heap.userRoot), 10, 4)).levels, 1u);
  for (std::uint32_t i : {0u, 1u, 66u, 67u, 50000u, kRows - 1}) {
    EXPECT_EQ(t.Cell(sink, content, i, 0x0037001F),
              Utf16Le(quill::Utf8ToUtf16("Message " + std::to_string(i))));
    EXPECT_EQ(Le(*t.Cell(sink, content, i, 0x0E080003), 0, 4), i);
    EXPECT_EQ(Le(*t.Cell(sink, content, i, 0x0E060040), 0, 8), 0x01D9000000000000ull + i);
    EXPECT_EQ(t.Cell(sink, content, i, 0x001A001F), std::nullopt);
  }
}

TEST(LtpTableContext, RejectsBadRowsAndDuplicateIds) {
  FakeSink sink;
  auto tc = TableContextBuilder::Create(sink, kAttachmentColumns);
  ASSERT_TRUE(tc.ok());
  const std::vector<TableCell> notAColumn = {{0x3001001F, PropValue::String(u"x")}};
  const std::vector<TableCell> wrongType = {{0x0E200003, PropValue::String(u"x")}};
  EXPECT_EQ(tc->AddRow(1, notAColumn).code(), quill::Status::Code::kInvalidArgument);
  EXPECT_EQ(tc->AddRow(1, wrongType).code(), quill::Status::Code::kInvalidArgument);
  EXPECT_EQ(tc->rowCount(), 0u);
  ASSERT_TRUE(tc->AddRow(0x21, {}).ok());
  ASSERT_TRUE(tc->AddRow(0x21, {}).ok());
  EXPECT_EQ(tc->Build().status().code(), quill::Status::Code::kInvalidArgument);
}

TEST(LtpTableContext, SinkFailureStopsTheTable) {
  FakeSink sink;
  auto tc = TableContextBuilder::Create(sink, {});
  ASSERT_TRUE(tc.ok());
  sink.FailAfterBlocks(0);
  quill::Status status;
  for (int i = 0; i < 2000 && status.ok(); ++i) status = tc->AddRow(static_cast<std::uint32_t>(i), {});
  EXPECT_EQ(status.code(), quill::Status::Code::kIOError) << "a failed matrix block is reported";
  EXPECT_EQ(tc->AddRow(5000, {}).code(), quill::Status::Code::kIOError);
  EXPECT_FALSE(tc->Build().ok());
}

}  // namespace
}  // namespace pst::ltp
