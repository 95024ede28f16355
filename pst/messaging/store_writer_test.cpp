#include "pst/messaging/store_writer.h"

#include <gtest/gtest.h>

#include <set>

#include "common/cancel.h"
#include "common/text.h"
#include "pst/folder_depth.h"
#include "pst/ltp/ltp_test_support.h"
#include "pst/ltp/stream_writer.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/prop_tags.h"
#include "pst/ndb/crc.h"

namespace pst::messaging {
namespace {

using ltp::PropValue;
using ltp::testing::Bytes;
using ltp::testing::FakeSink;
using ltp::testing::Le;
using ltp::testing::Must;
using ltp::testing::Utf16Le;
using ndb::Nid;

constexpr std::uint64_t kNow = 0x01DA000000000000ull;
const ltp::Guid kKey = {0x6a, 0x55, 0x2b, 0x81, 0x3c, 0x43, 0xf9, 0x43,
                        0x84, 0xf1, 0x8b, 0x7d, 0xa2, 0x39, 0x3e, 0x95};

ltp::NodeContent NodeOf(const FakeSink& sink, Nid nid) {
  auto it = sink.nodes().find(nid);
  if (it == sink.nodes().end()) {
    ADD_FAILURE() << "no node " << std::hex << nid;
    return {};
  }
  return ltp::NodeContent{it->second.data, sink.Subnodes(it->second.sub)};
}

ltp::NodeContent SubnodeOf(const FakeSink& sink, const ltp::NodeContent& parent, Nid nid) {
  for (const ndb::SubnodeRef& ref : parent.subnodes) {
    if (ref.nid == nid) return ltp::NodeContent{ref.data, sink.Subnodes(ref.sub)};
  }
  ADD_FAILURE() << "no subnode " << std::hex << nid;
  return {};
}

std::map<std::uint16_t, ltp::testing::ParsedProp> Props(const FakeSink& sink, Nid nid) {
  return ltp::testing::ReadPropertyContext(sink, NodeOf(sink, nid));
}

std::unique_ptr<StoreWriter> NewStore(FakeSink& sink) {
  StoreOptions options;
  options.displayName = u"Archiv \u00fc";
  options.recordKey = kKey;
  options.now = kNow;
  quill::Result<std::unique_ptr<StoreWriter>> store = StoreWriter::Create(sink, options);
  EXPECT_TRUE(store.ok());
  return store.ok() ? std::move(store).value() : nullptr;
}

std::vector<std::uint32_t> RowIds(const ltp::testing::ParsedTable& t) {
  std::vector<std::uint32_t> ids;
  for (const Bytes& row : t.rows) ids.push_back(static_cast<std::uint32_t>(Le(row, 0, 4)));
  return ids;
}

TEST(MessagingStore, NewStoreHasTheMandatoryNodes) {
  FakeSink sink;
  auto store = NewStore(sink);
  ASSERT_TRUE(store);
  EXPECT_EQ(store->ipmSubtree(), 0x8022u);
  EXPECT_EQ(store->searchRoot(), 0x8042u);
  EXPECT_EQ(store->deletedItems(), 0x8062u);
  ASSERT_TRUE(store->Close().ok());

  // node -> parent; folder tables and internal nodes have none.
  const std::map<Nid, Nid> expected = {
      {0x21, 0},       {0x61, 0},   {0x122, 0x122},   {0x12D, 0},  {0x12E, 0},      {0x12F, 0},
      {0x8022, 0x122}, {0x802D, 0}, {0x802E, 0},      {0x802F, 0}, {0x8042, 0x122}, {0x804D, 0},
      {0x804E, 0},     {0x804F, 0}, {0x8062, 0x8022}, {0x806D, 0}, {0x806E, 0},     {0x806F, 0},
      {0x2223, 0x122}, {0x2226, 0}, {0x2227, 0},      {0x2230, 0}, {0x222D, 0},     {0x222E, 0},
      {0x222F, 0},     {0x60D, 0},  {0x60E, 0},       {0x60F, 0},  {0x610, 0},      {0x62B, 0},
      {0x671, 0},      {0x692, 0},  {0x1E1, 0},       {0x201, 0},  {0x321, 0}};
  for (const auto& [nid, parent] : expected) {
    ASSERT_EQ(sink.nodes().count(nid), 1u) << std::hex << nid;
    EXPECT_EQ(sink.nodes().at(nid).parent, parent) << std::hex << nid;
  }
  EXPECT_EQ(sink.nodes().size(), expected.size());

  auto storeProps = Props(sink, 0x21);
  EXPECT_EQ(storeProps[0x0FF9].value, Bytes(kKey.begin(), kKey.end()));
  EXPECT_EQ(storeProps[0x3001].value, Utf16Le(u"Archiv \u00fc"));
  EXPECT_EQ(storeProps[0x35DF].hnid, 0x89u);
  for (auto [id, target] :
       {std::pair{0x35E0, 0x8022}, std::pair{0x35E3, 0x8062}, std::pair{0x35E7, 0x8042}}) {
    const Bytes& eid = storeProps[static_cast<std::uint16_t>(id)].value;
    ASSERT_EQ(eid.size(), 24u);
    EXPECT_EQ(Le(eid, 0, 4), 0u);
    EXPECT_EQ(Bytes(eid.begin() + 4, eid.begin() + 20), Bytes(kKey.begin(), kKey.end()))
        << "uid = record key";
    EXPECT_EQ(Le(eid, 20, 4), static_cast<std::uint32_t>(target));
  }
  EXPECT_EQ(Props(sink, 0x61)[0x0001].hnid, 251u);
  EXPECT_EQ(sink.Stream(sink.nodes().at(0x201).data), (Bytes{0x23, 0x22, 0, 0}));

  auto rootHierarchy = ltp::testing::ReadTableContext(sink, NodeOf(sink, 0x12D));
  ASSERT_TRUE(rootHierarchy.ok);
  EXPECT_EQ(RowIds(rootHierarchy), (std::vector<std::uint32_t>{0x8022, 0x8042, 0x2223}));
  EXPECT_EQ(rootHierarchy.Cell(sink, NodeOf(sink, 0x12D), 2, tag::kDisplayName),
            Utf16Le(u"SPAM Search Folder 2"));
  auto root = Props(sink, 0x122);
  EXPECT_EQ(root[0x360A].hnid, 1u);
  EXPECT_EQ(root[0x3602].hnid, 0u);
  EXPECT_EQ(Props(sink, 0x8062)[0x3001].value, Utf16Le(u"Deleted Items"));
  for (Nid t : {0x60D, 0x60E, 0x60F, 0x610, 0x671, 0x692}) {
    auto table = ltp::testing::ReadTableContext(sink, NodeOf(sink, t));
    EXPECT_TRUE(table.ok && table.rows.empty()) << std::hex << t;
  }
  auto receive = ltp::testing::ReadTableContext(sink, NodeOf(sink, 0x62B));
  ASSERT_EQ(receive.rows.size(), 1u);
  EXPECT_EQ(receive.Cell(sink, NodeOf(sink, 0x62B), 0, tag::kReceiveFolderNid), (Bytes{0x22, 0x01, 0, 0}));
}

TEST(MessagingStore, FolderTreeOfAnyDepthAndName) {
  FakeSink sink;
  auto store = NewStore(sink);
  ASSERT_TRUE(store);
  // Names from several scripts, one beyond the BMP, and a name with a backslash.
  const std::vector<std::u16string> names = {u"Posteingang", u"\u65e5\u672c\u8a9e", u"\U0001F4E7 mail",
                                             u"a\\b", u"\u0645\u0631\u062d\u0628\u0627"};
  std::vector<Nid> chain = {store->ipmSubtree()};
  for (int depth = 0; depth < 25; ++depth) {
    quill::Result<Nid> nid = store->CreateFolder(chain.back(), names[depth % names.size()]);
    ASSERT_TRUE(nid.ok()) << depth;
    chain.push_back(*nid);
  }
  quill::Result<Nid> sibling = store->CreateFolder(chain[1], u"Sibling");
  ASSERT_TRUE(sibling.ok());
  EXPECT_EQ(store->CreateFolder(chain[1], u"Sibling").status().code(), quill::Status::Code::kAlreadyExists);
  EXPECT_EQ(store->CreateFolder(0x7777, u"x").status().code(), quill::Status::Code::kNotFound);
  EXPECT_EQ(store->CreateFolder(chain[1], u"").status().code(), quill::Status::Code::kInvalidArgument);
  EXPECT_EQ(store->FindFolder(chain[1], u"Sibling"), *sibling);
  EXPECT_EQ(store->FindFolder(chain[1], u"sibling"), *sibling);  // letter case ignored
  EXPECT_EQ(store->FindFolder(chain[1], u"Siblings"), std::nullopt);
  ASSERT_TRUE(store->Close().ok());

  for (std::size_t i = 1; i < chain.size(); ++i) {
    ASSERT_EQ(sink.nodes().at(chain[i]).parent, chain[i - 1]);
    auto props = Props(sink, chain[i]);
    EXPECT_EQ(props[0x3001].value, Utf16Le(names[(i - 1) % names.size()]));
    EXPECT_EQ(props[0x3613].value, Utf16Le(u"IPF.Note"));
    const bool hasChildren = i + 1 < chain.size() || i == 1;
    EXPECT_EQ(props[0x360A].hnid, hasChildren ? 1u : 0u) << i;
    const ltp::NodeContent hierarchyNode =
        NodeOf(sink, ndb::MakeNid(ndb::NidType::kHierarchyTable, ndb::NidIndexOf(chain[i])));
    auto hierarchy = ltp::testing::ReadTableContext(sink, hierarchyNode);
    ASSERT_TRUE(hierarchy.ok);
    std::vector<std::uint32_t> expected;
    if (i + 1 < chain.size()) expected.push_back(chain[i + 1]);
    if (i == 1) expected.push_back(*sibling);
    EXPECT_EQ(RowIds(hierarchy), expected) << i;
    if (!expected.empty()) {
      EXPECT_EQ(hierarchy.Cell(sink, hierarchyNode, 0, tag::kDisplayName), Utf16Le(names[i % names.size()]));
    }
  }
}

TEST(MessagingStore, SiblingNamesDifferingOnlyInCaseAreOneName) {
  FakeSink sink;
  auto store = NewStore(sink);
  ASSERT_TRUE(store);
  const Nid top = store->ipmSubtree();
  const Nid work = Must(store->CreateFolder(top, u"Work"));
  const Nid annoyance = Must(store->CreateFolder(top, u"\u00C4rger"));  // Ärger
  const Nid greek = Must(store->CreateFolder(top, u"\u039F\u03A3"));    // ΟΣ
  for (const char16_t* same : {u"work", u"WORK"}) {
    EXPECT_EQ(store->FindFolder(top, same), work);
    EXPECT_EQ(store->CreateFolder(top, same).status().code(), quill::Status::Code::kAlreadyExists);
  }
  EXPECT_EQ(store->FindFolder(top, u"\u00E4rger"), annoyance);
  EXPECT_EQ(store->CreateFolder(top, u"\u00E4RGER").status().code(), quill::Status::Code::kAlreadyExists);
  EXPECT_EQ(store->FindFolder(top, u"\u03BF\u03C2"), greek);  // ος, with the final sigma
  // Other names are other folders, also where only a letter's accent differs; a name is kept
  // as it was given, and the same name is free under another parent.
  const Nid plain = Must(store->CreateFolder(top, u"Arger"));
  EXPECT_NE(plain, annoyance);
  EXPECT_EQ(store->FolderName(annoyance), u"\u00C4rger");
  EXPECT_EQ(store->FolderName(0x7777), u"");
  EXPECT_TRUE(store->CreateFolder(work, u"work").ok());
  EXPECT_EQ(store->Subfolders(top).size(), 5u);  // Deleted Items and the four made here
  ASSERT_TRUE(store->Close().ok());
}

TEST(MessagingStore, FolderTreeStopsAtTheDepthLimit) {
  FakeSink sink;
  auto store = NewStore(sink);
  ASSERT_TRUE(store);
  Nid at = store->ipmSubtree();
  Nid level1 = 0;
  for (int level = 1; level <= kMaxFolderDepth; ++level) {
    quill::Result<Nid> nid = store->CreateFolder(at, u"f");
    ASSERT_TRUE(nid.ok()) << level;
    at = *nid;
    if (level == 1) level1 = at;
  }
  quill::Result<Nid> deeper = store->CreateFolder(at, u"f");
  EXPECT_EQ(deeper.status().code(), quill::Status::Code::kNotSupported);
  EXPECT_EQ(deeper.status().message(),
            "the folder tree is deeper than " + std::to_string(kMaxFolderDepth) + " levels");
  // Only that one is refused: the store stays usable, and shallower folders can still be made.
  EXPECT_TRUE(store->CreateFolder(level1, u"g").ok());
  EXPECT_TRUE(store->CreateFolder(store->ipmSubtree(), u"h").ok());
  ASSERT_TRUE(store->Close().ok());
}

MessageContent SampleMessage(const std::u16string& subject, std::int32_t flags, std::size_t attachments) {
  MessageContent m;
  m.props = {{tag::kSubject, PropValue::String(subject)},
             {tag::kMessageFlags, PropValue::Int32(flags)},
             {tag::kMessageDeliveryTime, PropValue::Time(kNow - 1000)},
             {0x1000001F, PropValue::String(u"Body text")}};
  m.recipients.push_back({{{tag::kDisplayName, PropValue::String(u"Ann")},
                           {tag::kEmailAddress, PropValue::String(u"ann@example.org")},
                           {0x39FE001F, PropValue::String(u"ann@example.org")}}});
  m.recipients.push_back(
      {{{tag::kDisplayName, PropValue::String(u"Bo")}, {tag::kRecipientType, PropValue::Int32(2)}}});
  for (std::size_t i = 0; i < attachments; ++i) {
    AttachmentContent a;
    a.props = {{tag::kAttachLongFilename, PropValue::String(u"file" + std::u16string(1, u'0' + i) + u".bin")},
               {tag::kAttachFilename, PropValue::String(u"FILE.BIN")}};
    a.data = AttachmentData::Bytes(Bytes(i == 0 ? 20000 : 10, static_cast<std::uint8_t>(0x41 + i)));
    m.attachments.push_back(std::move(a));
  }
  return m;
}

TEST(MessagingStore, MessagesTablesAndCountsAgree) {
  FakeSink sink;
  auto store = NewStore(sink);
  ASSERT_TRUE(store);
  const Nid inbox = Must(store->CreateFolder(store->ipmSubtree(), u"Inbox"));
  ASSERT_TRUE(store->SetSpecialFolder(SpecialFolder::kInbox, inbox).ok());
  // The caller's has-attachments bit is wrong both ways; the store corrects it.
  const Nid m1 =
      Must(store->AddMessage(inbox, SampleMessage(u"first", tag::kMsgFlagRead | tag::kMsgFlagHasAttach, 0)));
  const Nid m2 = Must(store->AddMessage(inbox, SampleMessage(u"second", 0, 2)));
  const Nid m3 = Must(store->AddMessage(inbox, SampleMessage(u"third", 0, 0)));
  EXPECT_EQ(m1, 0x200024u);
  EXPECT_EQ(store->AddMessage(0x9999, SampleMessage(u"x", 0, 0)).status().code(),
            quill::Status::Code::kNotFound);
  ASSERT_TRUE(store->Close().ok());

  auto folder = Props(sink, inbox);
  EXPECT_EQ(folder[0x3602].hnid, 3u);
  EXPECT_EQ(folder[0x3603].hnid, 2u);
  const ltp::NodeContent contentsNode =
      NodeOf(sink, ndb::MakeNid(ndb::NidType::kContentsTable, ndb::NidIndexOf(inbox)));
  auto contents = ltp::testing::ReadTableContext(sink, contentsNode);
  ASSERT_TRUE(contents.ok);
  EXPECT_EQ(RowIds(contents), (std::vector<std::uint32_t>{m1, m2, m3}));
  // The parent's hierarchy row repeats the counts.
  const ltp::NodeContent ipmHierarchy = NodeOf(sink, 0x802D);
  auto hierarchy = ltp::testing::ReadTableContext(sink, ipmHierarchy);
  ASSERT_EQ(RowIds(hierarchy), (std::vector<std::uint32_t>{0x8062, inbox}));
  EXPECT_EQ(hierarchy.Cell(sink, ipmHierarchy, 1, tag::kContentCount), (Bytes{3, 0, 0, 0}));
  EXPECT_EQ(hierarchy.Cell(sink, ipmHierarchy, 1, tag::kContentUnreadCount), (Bytes{2, 0, 0, 0}));

  const std::vector<Nid> messages = {m1, m2, m3};
  for (std::size_t row = 0; row < 3; ++row) {
    const Nid nid = messages[row];
    EXPECT_EQ(sink.nodes().at(nid).parent, inbox);
    auto props = Props(sink, nid);
    const std::uint32_t flags = props[0x0E07].hnid;
    EXPECT_EQ((flags & 0x10) != 0, row == 1) << "has-attachments follows the attachments";
    EXPECT_EQ(props[0x001A].value, Utf16Le(u"IPM.Note"));
    EXPECT_EQ(props[0x300B].value.size(), 16u);
    EXPECT_EQ(Le(props[0x3007].value, 0, 8), kNow);
    EXPECT_GT(props[0x0E08].hnid, 0u);
    EXPECT_EQ(props.count(0x0E17), 1u);
    // Every contents cell mirrors the message.
    for (std::uint32_t t : {tag::kSubject, tag::kMessageFlags, tag::kMessageSize, tag::kMessageClass,
                            tag::kMessageStatus, tag::kMessageDeliveryTime, tag::kLastModificationTime}) {
      std::optional<Bytes> cell = contents.Cell(sink, contentsNode, row, t);
      ASSERT_TRUE(cell.has_value()) << std::hex << t;
      EXPECT_EQ(*cell, props[static_cast<std::uint16_t>(t >> 16)].value) << std::hex << t;
    }
    EXPECT_EQ(contents.Cell(sink, contentsNode, row, tag::kDisplayTo), std::nullopt);

    const ltp::NodeContent node = NodeOf(sink, nid);
    const ltp::NodeContent recipientsNode = SubnodeOf(sink, node, 0x692);
    auto recipients = ltp::testing::ReadTableContext(sink, recipientsNode);
    ASSERT_TRUE(recipients.ok);
    ASSERT_EQ(recipients.rows.size(), 2u);
    EXPECT_EQ(recipients.Cell(sink, recipientsNode, 0, 0x39FE001F), Utf16Le(u"ann@example.org"))
        << "extra column";
    EXPECT_EQ(recipients.Cell(sink, recipientsNode, 0, tag::kRecipientType), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(recipients.Cell(sink, recipientsNode, 1, tag::kRecipientType), (Bytes{2, 0, 0, 0}));
    EXPECT_EQ(recipients.Cell(sink, recipientsNode, 1, tag::kObjectType), (Bytes{6, 0, 0, 0}));
    EXPECT_EQ(recipients.Cell(sink, recipientsNode, 1, 0x39FE001F), std::nullopt);

    std::set<Nid> attachmentNids;
    for (const auto& ref : node.subnodes) {
      if (ndb::NidTypeOf(ref.nid) == ndb::NidType::kAttachment) attachmentNids.insert(ref.nid);
    }
    if (row != 1) {
      EXPECT_TRUE(attachmentNids.empty());
      for (const auto& ref : node.subnodes) EXPECT_NE(ref.nid, 0x671u);
      continue;
    }
    const ltp::NodeContent attTableNode = SubnodeOf(sink, node, 0x671);
    auto attTable = ltp::testing::ReadTableContext(sink, attTableNode);
    ASSERT_TRUE(attTable.ok);
    std::vector<std::uint32_t> ids = RowIds(attTable);
    EXPECT_EQ(std::set<Nid>(ids.begin(), ids.end()), attachmentNids);
    for (std::size_t i = 0; i < ids.size(); ++i) {
      const ltp::NodeContent attNode = SubnodeOf(sink, node, ids[i]);
      auto att = ltp::testing::ReadPropertyContext(sink, attNode);
      const std::size_t size = i == 0 ? 20000 : 10;
      EXPECT_EQ(att[0x3701].value, Bytes(size, static_cast<std::uint8_t>(0x41 + i)));
      EXPECT_EQ(att[0x3705].hnid, 1u);
      EXPECT_EQ(att[0x370B].hnid, 0xFFFFFFFFu);
      EXPECT_GE(att[0x0E20].hnid, size);
      EXPECT_EQ(attTable.Cell(sink, attTableNode, i, tag::kAttachFilename), Utf16Le(u"FILE.BIN"));
      EXPECT_EQ(attTable.Cell(sink, attTableNode, i, tag::kAttachSize),
                (Bytes{static_cast<std::uint8_t>(att[0x0E20].hnid),
                       static_cast<std::uint8_t>(att[0x0E20].hnid >> 8), 0, 0}));
    }
  }

  auto storeProps = Props(sink, 0x21);
  EXPECT_EQ(storeProps[0x35DF].hnid, 0x8Bu) << "Inbox bit";
  auto receive = ltp::testing::ReadTableContext(sink, NodeOf(sink, 0x62B));
  ASSERT_EQ(receive.rows.size(), 4u);
  EXPECT_EQ(Le(*receive.Cell(sink, NodeOf(sink, 0x62B), 0, tag::kReceiveFolderNid), 0, 4), inbox);
}

TEST(MessagingStore, NamedPropertiesAreMappedAndHashed) {
  FakeSink sink;
  auto store = NewStore(sink);
  ASSERT_TRUE(store);
  const ltp::Guid psInternetHeaders = {0x86, 0x03, 0x02, 0x00, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  NameMap& map = store->nameMap();
  // A new store already maps two names (0x8000 numeric, 0x8001 "Keywords"), so that neither the
  // entry stream nor the string stream is empty.
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(Must(map.IdFor(kPsMapi, 0x8581)), 0x8002);
  EXPECT_EQ(Must(map.IdFor(psInternetHeaders, u"x-mailer")), 0x8003);
  EXPECT_EQ(Must(map.IdFor(kPsPublicStrings, u"Keywords")), 0x8001) << "seeded";
  EXPECT_EQ(Must(map.IdFor(psInternetHeaders, u"x-mailer")), 0x8003) << "same name, same id";
  ASSERT_TRUE(store->Close().ok());

  auto props = Props(sink, 0x61);
  const Bytes& guids = props[0x0002].value;
  ASSERT_EQ(guids.size(), 32u);
  EXPECT_EQ(Bytes(guids.begin() + 16, guids.end()),
            Bytes(psInternetHeaders.begin(), psInternetHeaders.end()));
  const Bytes& entries = props[0x0003].value;
  ASSERT_EQ(entries.size(), 32u);
  EXPECT_EQ(Le(entries, 8, 4), 0u) << "offset of Keywords";
  EXPECT_EQ(Le(entries, 12, 4), (1u << 16) | (2u << 1) | 1u) << "index 1, PS_PUBLIC_STRINGS, string";
  EXPECT_EQ(Le(entries, 16, 4), 0x8581u);
  EXPECT_EQ(Le(entries, 20, 4), (2u << 16) | (1u << 1)) << "index 2, PS_MAPI, numeric";
  EXPECT_EQ(Le(entries, 24, 4), 20u) << "4 + 16 bytes of Keywords";
  EXPECT_EQ(Le(entries, 28, 4), (3u << 16) | (4u << 1) | 1u) << "second stream GUID";
  const Bytes& strings = props[0x0004].value;
  EXPECT_EQ(Le(strings, 0, 4), 16u);
  EXPECT_EQ(Bytes(strings.begin() + 4, strings.begin() + 20), Utf16Le(u"Keywords"));
  EXPECT_EQ(Le(strings, 20, 4), 16u);
  EXPECT_EQ(Bytes(strings.begin() + 24, strings.begin() + 40), Utf16Le(u"x-mailer"));
  // Each entry sits in the bucket its key hashes to, as {key, second dword}.
  const std::uint32_t second = (2u << 16) | (1u << 1);
  const Bytes& bucket = props[static_cast<std::uint16_t>(0x1000 + (0x8581u ^ (second & 0xFFFF)) % 251)].value;
  bool found = false;
  for (std::size_t at = 0; at + 8 <= bucket.size(); at += 8)
    found |= Le(bucket, at, 4) == 0x8581u && Le(bucket, at + 4, 4) == second;
  EXPECT_TRUE(found);
  std::size_t records = 0;
  for (const auto& [id, p] : props) {
    if (id >= 0x1000 && id < 0x1000 + 251) records += p.value.size() / 8;
  }
  EXPECT_EQ(records, 4u);
  // A string name is keyed by the CRC of its UTF-16LE form.
  const std::uint32_t keywordsCrc = ndb::ComputeCrc(Utf16Le(u"Keywords"));
  const std::uint32_t keywordsSecond = (1u << 16) | (2u << 1) | 1u;
  const Bytes& kb =
      props[static_cast<std::uint16_t>(0x1000 + (keywordsCrc ^ (keywordsSecond & 0xFFFF)) % 251)].value;
  found = false;
  for (std::size_t at = 0; at + 8 <= kb.size(); at += 8)
    found |= Le(kb, at, 4) == keywordsCrc && Le(kb, at + 4, 4) == keywordsSecond;
  EXPECT_TRUE(found);
}

TEST(MessagingStore, EmbeddedMessagesAndStreamedAttachments) {
  FakeSink sink;
  auto store = NewStore(sink);
  ASSERT_TRUE(store);
  // A forwarded mail that itself carries a file, and a file streamed block by block.
  auto inner = std::make_shared<MessageContent>(SampleMessage(u"inner", tag::kMsgFlagRead, 1));
  MessageContent outer = SampleMessage(u"outer", 0, 0);
  AttachmentContent forwarded;
  forwarded.props = {{tag::kAttachLongFilename, PropValue::String(u"inner.eml")}};
  forwarded.data = AttachmentData::Embedded(inner);
  outer.attachments.push_back(forwarded);
  ltp::StreamWriter stream(sink);
  const Bytes streamed(50000, 0x5A);
  ASSERT_TRUE(stream.Append(streamed).ok());
  AttachmentContent big;
  big.data =
      AttachmentData::WrittenStream(Must(stream.Finish()), static_cast<std::uint32_t>(streamed.size()));
  outer.attachments.push_back(big);
  const Nid nid = Must(store->AddMessage(store->ipmSubtree(), outer));

  // Nesting deeper than readers follow is refused, and the store stays usable.
  auto chain = std::make_shared<MessageContent>(SampleMessage(u"leaf", 0, 0));
  for (int i = 0; i < kMaxEmbeddingDepth + 1; ++i) {
    auto next = std::make_shared<MessageContent>(SampleMessage(u"level", 0, 0));
    AttachmentContent a;
    a.data = AttachmentData::Embedded(chain);
    next->attachments.push_back(a);
    chain = next;
  }
  EXPECT_EQ(store->AddMessage(store->ipmSubtree(), *chain).status().code(),
            quill::Status::Code::kInvalidArgument);
  ASSERT_TRUE(store->Close().ok());

  const ltp::NodeContent node = NodeOf(sink, nid);
  const ltp::NodeContent attNode = SubnodeOf(sink, node, ndb::MakeNid(ndb::NidType::kAttachment, 1));
  auto att = ltp::testing::ReadPropertyContext(sink, attNode);
  EXPECT_EQ(att[0x3705].hnid, 5u) << "embedded message";
  ASSERT_EQ(att[0x3701].type, 0x000D);
  ASSERT_EQ(att[0x3701].value.size(), 8u);
  const Nid innerNid = static_cast<Nid>(Le(att[0x3701].value, 0, 4));
  EXPECT_EQ(ndb::NidTypeOf(innerNid), ndb::NidType::kNormalMessage);
  EXPECT_EQ(sink.nodes().count(innerNid), 0u) << "not a top-level node";
  const ltp::NodeContent innerNode = SubnodeOf(sink, attNode, innerNid);
  auto innerProps = ltp::testing::ReadPropertyContext(sink, innerNode);
  EXPECT_EQ(innerProps[0x0037].value, Utf16Le(u"inner"));
  EXPECT_EQ(Le(att[0x3701].value, 4, 4), innerProps[0x0E08].hnid) << "ulSize is the message size";
  EXPECT_EQ(innerProps[0x0E07].hnid & 0x11u, 0x11u) << "read, has attachments";
  auto innerAtt = ltp::testing::ReadPropertyContext(
      sink, SubnodeOf(sink, innerNode, ndb::MakeNid(ndb::NidType::kAttachment, 1)));
  EXPECT_EQ(innerAtt[0x3701].value, Bytes(20000, 0x41));
  EXPECT_TRUE(ltp::testing::ReadTableContext(sink, SubnodeOf(sink, innerNode, 0x692)).ok);

  auto streamedAtt = ltp::testing::ReadPropertyContext(
      sink, SubnodeOf(sink, node, ndb::MakeNid(ndb::NidType::kAttachment, 2)));
  EXPECT_EQ(streamedAtt[0x3701].value, streamed);
  EXPECT_EQ(streamedAtt[0x3705].hnid, 1u);
}

// Every kind of attachment data, in the list and made later: small bytes go into the
// attachment's heap, large ones into a stream of their own written in pieces, with the caller's
// turn between two pieces.
TEST(MessagingStore, AttachmentDataOfEveryKind) {
  FakeSink sink;
  StoreOptions options;
  options.recordKey = kKey;
  options.now = kNow;
  int turns = 0;
  options.betweenPieces = [&turns] {
    ++turns;
    return quill::Status::Ok();
  };
  auto store = Must(StoreWriter::Create(sink, options));
  const Bytes small(100, 0x11);
  Bytes large(2 * kAttachmentPiece + 5);  // three pieces
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 7 + i / 4096);
  ltp::StreamWriter stream(sink);
  const Bytes streamed(9000, 0x33);
  ASSERT_TRUE(stream.Append(streamed).ok());
  const ndb::Bid streamTop = Must(stream.Finish());

  MessageContent m = SampleMessage(u"kinds", 0, 0);
  auto attachment = [](AttachmentData data) {
    AttachmentContent a;
    a.props = {{tag::kAttachLongFilename, PropValue::String(u"f")}};
    a.data = std::move(data);
    return a;
  };
  m.attachments.push_back(attachment(AttachmentData::Bytes(small)));
  m.attachments.push_back(attachment(AttachmentData::BorrowedBytes(large)));
  m.attachments.push_back(attachment(AttachmentData::WrittenStream(streamTop, 9000)));
  m.attachments.push_back(attachment(AttachmentData()));
  m.laterAttachments = 2;
  std::vector<std::size_t> made;
  m.makeAttachment = [&](std::size_t i) -> quill::Result<AttachmentContent> {
    made.push_back(i);
    if (i == 4) return attachment(AttachmentData::Bytes(Bytes(5000, 0x55)));
    return attachment(
        AttachmentData::Embedded(std::make_shared<MessageContent>(SampleMessage(u"inner", 0, 1))));
  };
  const Nid nid = Must(store->AddMessage(store->ipmSubtree(), m));
  EXPECT_EQ(turns, 2);
  EXPECT_EQ(made, (std::vector<std::size_t>{4, 5}));
  ASSERT_TRUE(store->Close().ok());

  const ltp::NodeContent node = NodeOf(sink, nid);
  auto stored = [&](std::uint32_t index) {
    return ltp::testing::ReadPropertyContext(
        sink, SubnodeOf(sink, node, ndb::MakeNid(ndb::NidType::kAttachment, index)));
  };
  constexpr std::uint32_t kInSubnode = 0x1F;  // an HNID naming a subnode (type LTP), not a heap item
  auto a1 = stored(1), a2 = stored(2), a3 = stored(3), a4 = stored(4), a5 = stored(5), a6 = stored(6);
  EXPECT_EQ(a1[0x3701].value, small);
  EXPECT_NE(a1[0x3701].hnid & 0x1F, kInSubnode) << "in the heap";
  EXPECT_EQ(a2[0x3701].value, large);
  EXPECT_EQ(a2[0x3701].hnid & 0x1F, kInSubnode);
  EXPECT_EQ(a3[0x3701].value, streamed);
  EXPECT_EQ(a4[0x3701].hnid, 0u) << "no bytes";
  EXPECT_EQ(a5[0x3701].value, Bytes(5000, 0x55));
  EXPECT_EQ(a5[0x3701].hnid & 0x1F, kInSubnode);
  for (auto* a : {&a1, &a2, &a3, &a4, &a5}) EXPECT_EQ((*a)[0x3705].hnid, 1u) << "by value";
  EXPECT_EQ(a6[0x3705].hnid, 5u) << "embedded message";
  // Same properties, other data: the attachment sizes differ by the data's.
  EXPECT_EQ(a2[0x0E20].hnid - a1[0x0E20].hnid, large.size() - small.size());
  EXPECT_EQ(a3[0x0E20].hnid - a1[0x0E20].hnid, streamed.size() - small.size());
  EXPECT_EQ(a6[0x3701].type, 0x000D);
}

// A stop asked for between two pieces leaves that message out; the store goes on and completes.
TEST(MessagingStore, AStopBetweenPiecesLeavesTheStoreUsable) {
  FakeSink sink;
  StoreOptions options;
  options.recordKey = kKey;
  options.now = kNow;
  bool stop = true;
  options.betweenPieces = [&stop] { return stop ? quill::StoppedStatus() : quill::Status::Ok(); };
  auto store = Must(StoreWriter::Create(sink, options));
  MessageContent big = SampleMessage(u"big", 0, 0);
  AttachmentContent a;
  a.data = AttachmentData::Bytes(Bytes(kAttachmentPiece + 1, 0x44));
  big.attachments.push_back(a);
  EXPECT_TRUE(quill::IsStopped(store->AddMessage(store->ipmSubtree(), big).status()));
  ASSERT_TRUE(store->AddMessage(store->ipmSubtree(), SampleMessage(u"after", 0, 1)).ok());
  stop = false;
  ASSERT_TRUE(store->AddMessage(store->ipmSubtree(), big).ok());
  ASSERT_TRUE(store->Close().ok());
  EXPECT_EQ(Props(sink, 0x8022)[0x3602].hnid, 2u);
}

TEST(MessagingStore, SinkFailureStopsTheStore) {
  FakeSink sink;
  auto store = NewStore(sink);
  ASSERT_TRUE(store);
  sink.FailAfterBlocks(2);
  quill::Result<Nid> nid = store->AddMessage(store->ipmSubtree(), SampleMessage(u"big", 0, 1));
  EXPECT_EQ(nid.status().code(), quill::Status::Code::kIOError);
  EXPECT_EQ(store->CreateFolder(store->ipmSubtree(), u"later").status().code(),
            quill::Status::Code::kIOError);
  EXPECT_EQ(store->Close().code(), quill::Status::Code::kIOError);
}

TEST(MessagingStore, BadPropertyIsRejectedWithoutSpoilingTheStore) {
  FakeSink sink;
  auto store = NewStore(sink);
  ASSERT_TRUE(store);
  MessageContent bad = SampleMessage(u"bad", 0, 0);
  bad.props.emplace_back(tag::kSubject, PropValue::Int32(1));
  EXPECT_EQ(store->AddMessage(store->ipmSubtree(), bad).status().code(),
            quill::Status::Code::kInvalidArgument);
  ASSERT_TRUE(store->AddMessage(store->ipmSubtree(), SampleMessage(u"good", 0, 0)).ok());
  ASSERT_TRUE(store->Close().ok());
  EXPECT_EQ(Props(sink, 0x8022)[0x3602].hnid, 1u);
}

}  // namespace
}  // namespace pst::messaging
