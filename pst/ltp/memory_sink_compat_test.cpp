// The builders' largest shapes (values past a heap item, heaps and row matrices over many blocks)
// as the node database hands them back: the data tree and subnode tree of the top-level node,
// flattened by the node database's sink, read by the independent reader.
#include <gtest/gtest.h>

#include <string>

#include "pst/ltp/ltp_test_support.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"

namespace pst::ltp {
namespace {

using testing::Bytes;

constexpr ndb::Nid kNode = 0x8022;

// The content of the top-level node `nid`, as a reader of the file would find it.
NodeContent ContentOf(const testing::FakeSink& sink, ndb::Nid nid) {
  const auto& nodes = sink.nodes();
  const auto node = nodes.find(nid);
  if (node == nodes.end()) {
    ADD_FAILURE() << "no node " << nid;
    return {};
  }
  return NodeContent{node->second.data, sink.Subnodes(node->second.sub)};
}

TEST(LtpWithMemorySink, LargePropertyContext) {
  testing::FakeSink sink;
  PropertyContextBuilder pc(sink);
  for (std::uint16_t i = 0; i < 30; ++i) {
    ASSERT_TRUE(pc.Set(MakeTag(static_cast<std::uint16_t>(0x4000 + i), PropType::kBinary),
                       PropValue::Binary(Bytes(3000, static_cast<std::uint8_t>(i))))
                    .ok());
  }
  ASSERT_TRUE(pc.Set(MakeTag(0x1000, PropType::kBinary), PropValue::Binary(Bytes(50000, 7))).ok());
  const quill::Status written = pc.WriteTopLevel(kNode, 0x122);
  ASSERT_TRUE(written.ok()) << written.ToString();
  ASSERT_EQ(sink.nodes().at(kNode).parent, 0x122u);

  const NodeContent content = ContentOf(sink, kNode);
  EXPECT_GE(content.subnodes.size(), 1u) << "the 50,000-byte value is a subnode";
  const std::map<std::uint16_t, testing::ParsedProp> props = testing::ReadPropertyContext(sink, content);
  ASSERT_EQ(props.size(), 31u);
  for (std::uint16_t i = 0; i < 30; ++i) {
    EXPECT_EQ(props.at(static_cast<std::uint16_t>(0x4000 + i)).value,
              Bytes(3000, static_cast<std::uint8_t>(i)))
        << i;
  }
  EXPECT_EQ(props.at(0x1000).value, Bytes(50000, 7));
}

TEST(LtpWithMemorySink, LargeTableContext) {
  testing::FakeSink sink;
  const std::vector<PropTag> columns = {0x0037001F, 0x0E080003};
  quill::Result<TableContextBuilder> tc = TableContextBuilder::Create(sink, columns);
  ASSERT_TRUE(tc.ok()) << tc.status().ToString();
  constexpr std::uint32_t kRows = 5000;
  for (std::uint32_t i = 0; i < kRows; ++i) {
    const std::vector<TableCell> cells = {{0x0037001F, PropValue::StringUtf8("Subject " + std::to_string(i))},
                                          {0x0E080003, PropValue::Int32(static_cast<std::int32_t>(i))}};
    ASSERT_TRUE(tc->AddRow(0x200004 + 32 * i, cells).ok()) << i;
  }
  const quill::Status written = tc->WriteTopLevel(kNode, 0);
  ASSERT_TRUE(written.ok()) << written.ToString();

  const NodeContent content = ContentOf(sink, kNode);
  const testing::ParsedTable table = testing::ReadTableContext(sink, content);
  ASSERT_TRUE(table.ok);
  ASSERT_EQ(table.rows.size(), kRows);
  EXPECT_GT(table.matrixBlocks.size(), 1u) << "the row matrix spans several blocks";
  for (std::uint32_t row : {0u, 1u, 2499u, kRows - 1}) {
    const std::optional<Bytes> size = table.Cell(sink, content, row, 0x0E080003);
    ASSERT_TRUE(size.has_value()) << row;
    EXPECT_EQ(testing::Le(*size, 0, 4), row);
    const std::string subject = "Subject " + std::to_string(row);
    EXPECT_EQ(table.Cell(sink, content, row, 0x0037001F),
              testing::Utf16Le(std::u16string(subject.begin(), subject.end())))
        << row;
  }
}

}  // namespace
}  // namespace pst::ltp
