#include "pst/ltp/property_context.h"

#include <gtest/gtest.h>

#include "pst/ltp/heap_builder.h"
#include "pst/ltp/ltp_test_support.h"
#include "pst/ltp/stream_writer.h"

namespace pst::ltp {
namespace {

using testing::Bytes;
using testing::FakeSink;
using testing::Le;
using testing::Utf16Le;

Bytes Pattern(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 31 + i / 251);
  return b;
}

NodeContent BuildOrDie(PropertyContextBuilder& pc) {
  quill::Result<NodeContent> content = pc.Build();
  EXPECT_TRUE(content.ok()) << content.status().ToString();
  return content.ok() ? *content : NodeContent{};
}

TEST(LtpPropertyContext, EveryTypeRoundTrips) {
  FakeSink sink;
  PropertyContextBuilder pc(sink);
  const Guid guid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const std::vector<std::u16string> names = {u"one", u"", u"dr\u00e9i"};
  const std::vector<Bytes> blobs = {{1, 2, 3}, {4}};
  const std::vector<std::int32_t> ints = {-1, 7};
  ASSERT_TRUE(pc.Set(MakeTag(0x0017, PropType::kInteger32), PropValue::Int32(-2)).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x3A4D, PropType::kInteger16), PropValue::Int16(-3)).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x360A, PropType::kBoolean), PropValue::Bool(true)).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x0E08, PropType::kInteger64), PropValue::Int64(0x1122334455667788)).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x3007, PropType::kTime), PropValue::Time(0x01D9000000000001)).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x7FFE, PropType::kFloating64), PropValue::Floating64(1.5)).ok());
  ASSERT_TRUE(
      pc.Set(MakeTag(0x3001, PropType::kString), PropValue::String(std::u16string_view(u"Po\u0161ta\0x", 7)))
          .ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x3002, PropType::kString), PropValue::StringUtf8("")).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x0FF9, PropType::kBinary), PropValue::Binary(Bytes{9, 8, 7})).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x0002, PropType::kGuid), PropValue::GuidValue(guid)).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x8001, PropType::kMultipleString), PropValue::MultipleString(names)).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x8002, PropType::kMultipleBinary), PropValue::MultipleBinary(blobs)).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x8003, PropType::kMultipleInteger32), PropValue::MultipleInt32(ints)).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x3701, PropType::kObject), PropValue::Object(0x2224, 5000)).ok());
  const NodeContent content = BuildOrDie(pc);
  EXPECT_TRUE(content.subnodes.empty());

  // Outlook's order: the BTH header is the first allocation and the heap's user root.
  testing::ParsedHeap heap = testing::ParseHeap(sink.Leaves(content.data));
  EXPECT_EQ(heap.userRoot, 0x20u);

  auto props = testing::ReadPropertyContext(sink, content);
  ASSERT_EQ(props.size(), 14u);
  EXPECT_EQ(props[0x0017].type, 0x0003);
  EXPECT_EQ(props[0x0017].hnid, 0xFFFFFFFEu);
  EXPECT_EQ(props[0x3A4D].hnid, 0xFFFDu) << "Int16 zero-extended in the record";
  EXPECT_EQ(props[0x360A].hnid, 1u);
  EXPECT_EQ(props[0x0E08].value, (Bytes{0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(Le(props[0x3007].value, 0, 8), 0x01D9000000000001u);
  EXPECT_EQ(props[0x7FFE].value, (Bytes{0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));
  EXPECT_EQ(props[0x3001].value, Utf16Le(u"Po\u0161tax")) << "no terminator, NUL dropped";
  EXPECT_EQ(props[0x3002].hnid, 0u) << "empty value";
  EXPECT_EQ(props[0x0FF9].value, (Bytes{9, 8, 7}));
  EXPECT_EQ(props[0x0002].value, Bytes(guid.begin(), guid.end()));
  // count, offsets from the start of the value, then the items back to back.
  Bytes multi = {3, 0, 0, 0, 16, 0, 0, 0, 22, 0, 0, 0, 22, 0, 0, 0};
  for (const auto& n : names) {
    const Bytes b = Utf16Le(n);
    multi.insert(multi.end(), b.begin(), b.end());
  }
  EXPECT_EQ(props[0x8001].value, multi);
  EXPECT_EQ(props[0x8002].value, (Bytes{2, 0, 0, 0, 12, 0, 0, 0, 15, 0, 0, 0, 1, 2, 3, 4}));
  EXPECT_EQ(props[0x8003].value, (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 7, 0, 0, 0}));
  EXPECT_EQ(props[0x3701].value, (Bytes{0x24, 0x22, 0, 0, 0x88, 0x13, 0, 0}));
}

TEST(LtpPropertyContext, HeapLimitDecidesHeapOrSubnode) {
  FakeSink sink;
  PropertyContextBuilder pc(sink);
  const Bytes atLimit = Pattern(kMaxHeapItem), pastLimit = Pattern(kMaxHeapItem + 1),
              huge = Pattern(3 * 8176 + 5);
  ASSERT_TRUE(pc.Set(MakeTag(0x1000, PropType::kBinary), PropValue::Binary(atLimit)).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x1001, PropType::kBinary), PropValue::Binary(pastLimit)).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x1002, PropType::kBinary), PropValue::Binary(huge)).ok());
  const NodeContent content = BuildOrDie(pc);
  auto props = testing::ReadPropertyContext(sink, content);
  EXPECT_TRUE(IsHid(props[0x1000].hnid));
  EXPECT_EQ(props[0x1000].value, atLimit);
  EXPECT_EQ(props[0x1001].hnid & 0x1F, 0x1Fu) << "LTP subnode";
  EXPECT_EQ(props[0x1001].value, pastLimit);
  EXPECT_EQ(props[0x1002].value, huge);
  ASSERT_EQ(content.subnodes.size(), 2u);
  EXPECT_NE(content.subnodes[0].nid, content.subnodes[1].nid);
  EXPECT_EQ(sink.Leaves(content.subnodes[1].data).size(), 4u) << "huge value split into full blocks";
}

TEST(LtpPropertyContext, ManyPropertiesSpillHeapAndDeepenTree) {
  // 600 records need an index level (447 per allocation); 40 values of 3,000 bytes need 20 blocks.
  FakeSink sink;
  PropertyContextBuilder pc(sink);
  for (std::uint16_t i = 0; i < 560; ++i) {
    ASSERT_TRUE(
        pc.Set(MakeTag(static_cast<std::uint16_t>(0x8000 + i), PropType::kInteger32), PropValue::Int32(i))
            .ok());
  }
  for (std::uint16_t i = 0; i < 40; ++i) {
    Bytes v = Pattern(3000);
    v[0] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(
        pc.Set(MakeTag(static_cast<std::uint16_t>(0x4000 + i), PropType::kBinary), PropValue::Binary(v))
            .ok());
  }
  const NodeContent content = BuildOrDie(pc);
  EXPECT_GE(sink.Leaves(content.data).size(), 20u);
  testing::ParsedHeap heap = testing::ParseHeap(sink.Leaves(content.data));
  EXPECT_EQ(testing::ParseBth(heap, heap.userRoot).levels, 1u);
  auto props = testing::ReadPropertyContext(sink, content);
  ASSERT_EQ(props.size(), 600u);
  for (std::uint16_t i = 0; i < 560; ++i) EXPECT_EQ(props[static_cast<std::uint16_t>(0x8000 + i)].hnid, i);
  for (std::uint16_t i = 0; i < 40; ++i) {
    const Bytes& v = props[static_cast<std::uint16_t>(0x4000 + i)].value;
    ASSERT_EQ(v.size(), 3000u);
    EXPECT_EQ(v[0], i);
  }
}

TEST(LtpPropertyContext, SetReplacesAndChecksTypes) {
  FakeSink sink;
  PropertyContextBuilder pc(sink);
  EXPECT_FALSE(pc.Set(MakeTag(0x3001, PropType::kString), PropValue::Int32(1)).ok());
  EXPECT_FALSE(pc.Set(0x30010099, PropValue::Int32(1)).ok()) << "unknown type";
  EXPECT_FALSE(pc.SetWritten(MakeTag(0x0E08, PropType::kInteger32), 4, 10).ok());
  EXPECT_FALSE(pc.SetWritten(MakeTag(0x3701, PropType::kBinary), 0, 10).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x3001, PropType::kString), PropValue::String(u"first")).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x3001, PropType::kString), PropValue::String(u"second")).ok());
  auto props = testing::ReadPropertyContext(sink, BuildOrDie(pc));
  ASSERT_EQ(props.size(), 1u);
  EXPECT_EQ(props[0x3001].value, Utf16Le(u"second"));
}

// A borrowed value must be written exactly as a copied one, wherever its size puts it, and a
// later Set or SetBorrowed of the same id must replace it either way.
TEST(LtpPropertyContext, BorrowedValuesAreWrittenAsCopiedOnes) {
  const std::vector<std::pair<PropTag, PropValue>> values = {
      {MakeTag(0x0017, PropType::kInteger32), PropValue::Int32(-2)},
      {MakeTag(0x0E06, PropType::kTime), PropValue::Time(0x01D2345678ABCDEFull)},
      {MakeTag(0x1000, PropType::kBinary), PropValue::Binary(Pattern(kMaxHeapItem))},
      {MakeTag(0x1001, PropType::kBinary), PropValue::Binary(Pattern(3 * 8176 + 5))},
      {MakeTag(0x3001, PropType::kString), PropValue::String(u"borrowed")},
  };
  const PropValue replaced = PropValue::String(u"replaced");
  FakeSink copiedSink, borrowedSink;
  PropertyContextBuilder copied(copiedSink), borrowed(borrowedSink);
  for (const auto& [tag, value] : values) {
    ASSERT_TRUE(copied.Set(tag, value).ok());
    ASSERT_TRUE(borrowed.SetBorrowed(tag, value).ok());
  }
  ASSERT_TRUE(copied.Set(MakeTag(0x3001, PropType::kString), replaced).ok());
  ASSERT_TRUE(borrowed.SetBorrowed(MakeTag(0x3001, PropType::kString), replaced).ok());
  ASSERT_TRUE(borrowed.Set(MakeTag(0x0017, PropType::kInteger32), PropValue::Int32(-2)).ok());
  EXPECT_FALSE(borrowed.SetBorrowed(MakeTag(0x3002, PropType::kString), values[0].second).ok());

  const NodeContent a = BuildOrDie(copied), b = BuildOrDie(borrowed);
  EXPECT_EQ(copiedSink.Stream(a.data), borrowedSink.Stream(b.data));
  ASSERT_EQ(a.subnodes.size(), b.subnodes.size());
  for (std::size_t i = 0; i < a.subnodes.size(); ++i) {
    EXPECT_EQ(copiedSink.Stream(a.subnodes[i].data), borrowedSink.Stream(b.subnodes[i].data));
  }
  auto props = testing::ReadPropertyContext(borrowedSink, b);
  EXPECT_EQ(props[0x3001].value, Utf16Le(u"replaced"));
  EXPECT_EQ(props[0x1001].value, Pattern(3 * 8176 + 5));
}

TEST(LtpPropertyContext, StreamedValueBecomesSubnode) {
  FakeSink sink;
  StreamWriter stream(sink);
  const Bytes data = Pattern(20000);
  for (std::size_t at = 0; at < data.size(); at += 777) {
    const std::size_t n = std::min<std::size_t>(777, data.size() - at);
    ASSERT_TRUE(stream.Append(std::span<const std::uint8_t>(data.data() + at, n)).ok());
  }
  quill::Result<ndb::Bid> top = stream.Finish();
  ASSERT_TRUE(top.ok());
  PropertyContextBuilder pc(sink);
  ASSERT_TRUE(
      pc.SetWritten(MakeTag(0x3701, PropType::kBinary), *top, static_cast<std::uint32_t>(data.size())).ok());
  ASSERT_TRUE(pc.Set(MakeTag(0x0E20, PropType::kInteger32), PropValue::Int32(20000)).ok());
  ASSERT_TRUE(pc.WriteTopLevel(0x8025, 0x8022).ok());

  ASSERT_EQ(sink.nodes().count(0x8025), 1u);
  const FakeSink::Node node = sink.nodes().at(0x8025);
  EXPECT_EQ(node.parent, 0x8022u);
  NodeContent content{node.data, sink.Subnodes(node.sub)};
  ASSERT_EQ(content.subnodes.size(), 1u);
  auto props = testing::ReadPropertyContext(sink, content);
  EXPECT_EQ(props[0x3701].value, data);
}

// However the bytes arrive (one piece, small pieces, pieces of exactly a block), the stream is cut
// into full blocks with only the last one short, and reads back the same.
TEST(LtpPropertyContext, StreamBlocksDoNotDependOnHowBytesArrive) {
  const Bytes data = Pattern(3 * ndb::kMaxBlockData + 1234);
  const std::vector<std::vector<std::size_t>> cuts = {{data.size()},
                                                      {777},
                                                      {ndb::kMaxBlockData},
                                                      {ndb::kMaxBlockData + 1},
                                                      {100, 2 * ndb::kMaxBlockData + 5}};
  for (const std::vector<std::size_t>& pieces : cuts) {
    FakeSink sink;
    StreamWriter stream(sink);
    for (std::size_t at = 0, k = 0; at < data.size(); ++k) {
      const std::size_t n = std::min(pieces[std::min(k, pieces.size() - 1)], data.size() - at);
      ASSERT_TRUE(stream.Append(std::span<const std::uint8_t>(data.data() + at, n)).ok());
      at += n;
    }
    quill::Result<ndb::Bid> top = stream.Finish();
    ASSERT_TRUE(top.ok());
    const std::vector<Bytes> leaves = sink.Leaves(*top);
    ASSERT_EQ(leaves.size(), 4u) << "first piece " << pieces[0];
    for (std::size_t i = 0; i + 1 < leaves.size(); ++i) EXPECT_EQ(leaves[i].size(), ndb::kMaxBlockData);
    EXPECT_EQ(sink.Stream(*top), data) << "first piece " << pieces[0];
  }
}

TEST(LtpPropertyContext, SinkFailureIsReturned) {
  FakeSink sink;
  PropertyContextBuilder pc(sink);
  ASSERT_TRUE(pc.Set(MakeTag(0x1000, PropType::kBinary), PropValue::Binary(Pattern(10000))).ok());
  sink.FailAfterBlocks(1);
  EXPECT_EQ(pc.Build().status().code(), quill::Status::Code::kIOError);
}

}  // namespace
}  // namespace pst::ltp
