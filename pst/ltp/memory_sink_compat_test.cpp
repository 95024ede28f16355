// The builders against the node database's own in-memory sink, which enforces the sink contract
// the way the file writer does: what the fake sink of the other tests accepts must be accepted
// there too, and read back to the same bytes.
#include <gtest/gtest.h>

#include "pst/ltp/ltp_test_support.h"
#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/ndb/memory_sink.h"

namespace pst::ltp {
namespace {

using testing::Bytes;

template <typename Fill>
void ExpectSameNode(Fill fill) {
  testing::FakeSink fake;
  ndb::MemorySink memory;
  ASSERT_TRUE(fill(static_cast<ndb::NodeSink&>(fake)).ok());
  quill::Status s = fill(static_cast<ndb::NodeSink&>(memory));
  ASSERT_TRUE(s.ok()) << s.ToString();
  const auto& expected = fake.nodes().at(0x8022);
  quill::Result<std::vector<std::uint8_t>> data = memory.ReadNodeData(0x8022);
  ASSERT_TRUE(data.ok()) << data.status().ToString();
  EXPECT_EQ(*data, fake.Stream(expected.data));
  quill::Result<std::vector<ndb::SubnodeRef>> subs = memory.ReadNodeSubnodes(0x8022);
  ASSERT_TRUE(subs.ok());
  const std::vector<ndb::SubnodeRef> fakeSubs = fake.Subnodes(expected.sub);
  ASSERT_EQ(subs->size(), fakeSubs.size());
  for (std::size_t i = 0; i < fakeSubs.size(); ++i) {
    EXPECT_EQ((*subs)[i].nid, fakeSubs[i].nid);
    quill::Result<std::vector<std::uint8_t>> sub = memory.ReadData((*subs)[i].data);
    ASSERT_TRUE(sub.ok());
    EXPECT_EQ(*sub, fake.Stream(fakeSubs[i].data));
  }
}

TEST(LtpWithMemorySink, LargePropertyContext) {
  ExpectSameNode([](ndb::NodeSink& sink) {
    PropertyContextBuilder pc(sink);
    for (std::uint16_t i = 0; i < 30; ++i) {
      QUILL_RETURN_IF_ERROR(pc.Set(MakeTag(static_cast<std::uint16_t>(0x4000 + i), PropType::kBinary),
                                   PropValue::Binary(Bytes(3000, static_cast<std::uint8_t>(i)))));
    }
    QUILL_RETURN_IF_ERROR(pc.Set(MakeTag(0x1000, PropType::kBinary), PropValue::Binary(Bytes(50000, 7))));
    return pc.WriteTopLevel(0x8022, 0x122);
  });
}

TEST(LtpWithMemorySink, LargeTableContext) {
  ExpectSameNode([](ndb::NodeSink& sink) {
    const std::vector<PropTag> columns = {0x0037001F, 0x0E080003};
    quill::Result<TableContextBuilder> tc = TableContextBuilder::Create(sink, columns);
    if (!tc.ok()) return tc.status();
    for (std::uint32_t i = 0; i < 5000; ++i) {
      const std::vector<TableCell> cells = {{0x0037001F, PropValue::StringUtf8("Subject " + std::to_string(i))},
                                            {0x0E080003, PropValue::Int32(static_cast<std::int32_t>(i))}};
      QUILL_RETURN_IF_ERROR(tc->AddRow(0x200004 + 32 * i, cells));
    }
    return tc->WriteTopLevel(0x8022, 0);
  });
}

}  // namespace
}  // namespace pst::ltp
