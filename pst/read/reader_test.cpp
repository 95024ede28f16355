// Reads the Outlook-made reference stores and compares what comes back with what the independent
// readers (python3-pypff, pffexport) report for the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "pst/read/messaging.h"
#include "pst/read/test_util.h"

namespace pst::read {
namespace {

using testing::Bytes;
using testing::LoadReference;

TEST(PstReadFormat, CrcAndEncodingKnownValues) {
  EXPECT_EQ(PstCrc({}), 0u);
  const std::string digits = "123456789";
  // zlib's crc32 of the same bytes is 0xCBF43926; the store's variant skips both inversions.
  EXPECT_EQ(PstCrc(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(digits.data()),
                                                 digits.size())),
            0x2DFD2D88u);
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  Bytes encoded = all;
  PermuteEncode(encoded);
  EXPECT_EQ(encoded[0], 65);
  EXPECT_EQ(std::set<std::uint8_t>(encoded.begin(), encoded.end()).size(), 256u);  // a true permutation
  PermuteDecode(encoded);
  EXPECT_EQ(encoded, all);
  EXPECT_EQ(Signature(0x4400, 0x4400), 0);
  EXPECT_EQ(Signature(0x12345678, 0), 0x1234 ^ 0x5678);
}

// Paths of every folder below the root, found through the hierarchy tables.
void CollectFolders(const PstFile& file, Nid nid, const std::string& prefix, std::set<std::string>* out,
                    int depth = 0) {
  ASSERT_LT(depth, 16);
  Result<Folder> f = ReadFolder(file, nid);
  ASSERT_TRUE(f.ok()) << f.status().ToString();
  if (!f->hierarchy) return;
  for (const TableRow& row : f->hierarchy->rows) {
    Result<Folder> child = ReadFolder(file, row.row_id);
    ASSERT_TRUE(child.ok()) << child.status().ToString();
    const std::string path = prefix + child->name;
    out->insert(path);
    CollectFolders(file, row.row_id, path + "/", out, depth + 1);
  }
}

std::vector<Message> MessagesOf(const PstFile& file) {
  std::vector<Message> out;
  for (const auto& [nid, n] : file.nodes()) {
    if (NidTypeOf(nid) != 0x04) continue;
    Result<Message> m = ReadMessage(file, nid);
    EXPECT_TRUE(m.ok()) << m.status().ToString();
    if (m.ok()) out.push_back(std::move(m).value());
  }
  return out;
}

std::unique_ptr<PstFile> OpenReference(const std::string& name) {
  Bytes bytes = LoadReference(name);
  EXPECT_FALSE(bytes.empty()) << "reference store missing: " << name;
  Result<std::unique_ptr<PstFile>> f = PstFile::FromBytes(std::move(bytes));
  EXPECT_TRUE(f.ok()) << f.status().ToString();
  return f.ok() ? std::move(f).value() : nullptr;
}

TEST(PstReadReference, Sample1MatchesIndependentReaders) {
  std::unique_ptr<PstFile> file = OpenReference("pstsdk_sample1.pst");
  ASSERT_TRUE(file);
  EXPECT_TRUE(file->findings().empty()) << testing::Describe(file->findings());
  EXPECT_EQ(file->header().crypt_method, kCryptPermute);
  std::set<std::string> folders;
  CollectFolders(*file, kNidRootFolder, "", &folders);
  EXPECT_EQ(folders,
            (std::set<std::string>{"SPAM Search Folder 2", "Top of Outlook data file",
                                   "Top of Outlook data file/Deleted Items",
                                   "Top of Outlook data file/Sample1", "Search Root", "ItemProcSearch"}));
  std::vector<Message> msgs = MessagesOf(*file);
  ASSERT_EQ(msgs.size(), 1u);
  const Message& m = msgs[0];
  EXPECT_EQ(DisplaySubject(GetString(m.props, prop_id::kSubject).value_or("")), "Here is a sample message");
  EXPECT_EQ(GetString(m.props, prop_id::kMessageClass), "IPM.Note");
  EXPECT_EQ(GetInt32(m.props, prop_id::kMessageFlags), 0x31);  // read, has attachments, from me
  ASSERT_TRUE(m.recipients);
  ASSERT_EQ(m.recipients->rows.size(), 1u);
  EXPECT_EQ(GetString(m.recipients->rows[0].cells, 0x3001), "Terry Mahaffey");
  EXPECT_EQ(GetString(m.recipients->rows[0].cells, 0x3003),
            "/O=MICROSOFT/OU=Northamerica/cn=Recipients/cn=terrymah1");
  EXPECT_EQ(GetInt32(m.recipients->rows[0].cells, 0x0C15), 1);  // To
  ASSERT_EQ(m.attachments.size(), 1u);
  const Attachment& a = m.attachments[0];
  EXPECT_EQ(GetString(a.props, prop_id::kAttachLongFilename), "leah_thumper.jpg");
  EXPECT_EQ(GetInt32(a.props, prop_id::kAttachMethod), 1);
  // 93,142 bytes spread over a data tree of several blocks.
  std::optional<std::vector<std::uint8_t>> data = GetBinary(a.props, prop_id::kAttachData);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->size(), 93142u);
  EXPECT_EQ((*data)[0], 0xFF);  // JPEG start-of-image
  EXPECT_EQ((*data)[1], 0xD8);
}

TEST(PstReadReference, JapaneseStoresAndEmbeddedMessage) {
  std::unique_ptr<PstFile> inline_store = OpenReference("ruby-msg_attachAndInline.pst");
  ASSERT_TRUE(inline_store);
  std::set<std::string> folders;
  CollectFolders(*inline_store, kNidRootFolder, "", &folders);
  EXPECT_EQ(folders,
            (std::set<std::string>{"SPAM Search Folder 2", "Outlook データ ファイルのトップ",
                                   "Outlook データ ファイルのトップ/削除済みアイテム", "検索ルート"}));
  std::vector<Message> msgs = MessagesOf(*inline_store);
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(DisplaySubject(GetString(msgs[0].props, prop_id::kSubject).value_or("")), "Attach and inline");
  std::vector<std::size_t> sizes;
  for (const Attachment& a : msgs[0].attachments)
    sizes.push_back(GetBinary(a.props, prop_id::kAttachData)->size());
  EXPECT_EQ(sizes, (std::vector<std::size_t>{1558, 809}));
  EXPECT_EQ(GetString(msgs[0].attachments[1].props, prop_id::kAttachFilename), "image001.png");

  std::unique_ptr<PstFile> nested = OpenReference("ruby-msg_msgInMsg.pst");
  ASSERT_TRUE(nested);
  msgs = MessagesOf(*nested);
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(DisplaySubject(GetString(msgs[0].props, prop_id::kSubject).value_or("")), "I have attachments!");
  ASSERT_EQ(msgs[0].attachments.size(), 2u);
  const Attachment& outer = msgs[0].attachments[0];
  EXPECT_EQ(GetInt32(outer.props, prop_id::kAttachMethod), kAttachEmbeddedMessage);
  ASSERT_EQ(outer.embedded.size(), 1u);
  const Message& inner = outer.embedded[0];
  EXPECT_EQ(DisplaySubject(GetString(inner.props, prop_id::kSubject).value_or("")),
            "Microsoft Outlook テスト メッセージ");
  ASSERT_TRUE(inner.recipients);
  EXPECT_EQ(GetString(inner.recipients->rows.at(0).cells, 0x3003), "xmailuser@xmailserver.test");
  EXPECT_EQ(GetBinary(msgs[0].attachments[1].props, prop_id::kAttachData)->size(), 134u);
}

TEST(PstReadReference, DistListStoreWithDefaultFolders) {
  std::unique_ptr<PstFile> file = OpenReference("java-libpst_dist-list.pst");
  ASSERT_TRUE(file);
  std::set<std::string> folders;
  CollectFolders(*file, kNidRootFolder, "", &folders);
  EXPECT_EQ(folders.size(), 23u);
  for (const char* name : {"Top of Personal Folders/Inbox", "Top of Personal Folders/Calendar",
                           "Top of Personal Folders/Junk E-mail", "Search Root/All Messages", "Freebusy Data",
                           "Tracked Mail Processing", "IPM_COMMON_VIEWS"}) {
    EXPECT_TRUE(folders.count(name)) << name;
  }
  std::set<std::string> subjects;
  std::vector<std::size_t> appointment_exceptions;
  for (const Message& m : MessagesOf(*file)) {
    subjects.insert(DisplaySubject(GetString(m.props, prop_id::kSubject).value_or("")));
    for (const Attachment& a : m.attachments) {
      for (const Message& e : a.embedded)
        appointment_exceptions.push_back(GetInt32(e.props, prop_id::kMessageSize).value_or(0));
    }
  }
  EXPECT_EQ(subjects,
            (std::set<std::string>{"test dist list", "LocalFreebusy", "contact name 1", "Test appointment"}));
  std::sort(appointment_exceptions.begin(), appointment_exceptions.end());
  EXPECT_EQ(appointment_exceptions, (std::vector<std::size_t>{4465, 4500}));
}

TEST(PstReadReference, RejectsAnsiAndNonStores) {
  Bytes bytes = LoadReference("pstsdk_sample1.pst");
  ASSERT_FALSE(bytes.empty());
  Bytes ansi = bytes;
  testing::PutLe16(ansi, 10, 14);
  Result<std::unique_ptr<PstFile>> r = PstFile::FromBytes(ansi);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().code(), Status::Code::kNotSupported);
  EXPECT_NE(r.status().message().find("ANSI"), std::string::npos);

  Bytes not_pst = bytes;
  not_pst[0] = 'X';
  EXPECT_EQ(PstFile::FromBytes(not_pst).status().code(), Status::Code::kCorruption);
  EXPECT_EQ(PstFile::Open(testing::ReferencePath("no-such-file.pst")).status().code(),
            Status::Code::kNotFound);

  // Reading through the file path gives the same store as reading from memory.
  Result<std::unique_ptr<PstFile>> from_disk = PstFile::Open(testing::ReferencePath("pstsdk_sample1.pst"));
  ASSERT_TRUE(from_disk.ok()) << from_disk.status().ToString();
  EXPECT_EQ(from_disk.value()->nodes().size(), 52u);
  EXPECT_EQ(from_disk.value()->blocks().size(), 61u);
}

TEST(PstReadReference, MissingBlocksAndNodesAreStatuses) {
  std::unique_ptr<PstFile> file = OpenReference("pstsdk_sample1.pst");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->ReadBlock(0xFFFFFF0).status().code(), Status::Code::kNotFound);
  EXPECT_EQ(file->LoadNode(0x7FFFFFE2).status().code(), Status::Code::kNotFound);
  Result<Node> root = file->LoadNode(kNidRootFolder);
  ASSERT_TRUE(root.ok());
  EXPECT_EQ(file->LoadSubnode(root.value(), 0x692).status().code(), Status::Code::kNotFound);
  // A table node read as a property context, and the reverse, are refused.
  EXPECT_FALSE(ReadMessage(*file, 0x12D).ok());
  Result<Node> store = file->LoadNode(kNidMessageStore);
  ASSERT_TRUE(store.ok());
  EXPECT_EQ(ReadTableContext(*file, store.value()).status().code(), Status::Code::kCorruption);
}

}  // namespace
}  // namespace pst::read
