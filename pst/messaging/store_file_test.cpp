// A whole store written to a real file and read back by readers that share no code with the
// writer: the project's structural checker and libpff (through Debian's python3-pypff).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "fs/temp_tree_test.h"
#include "pst/messaging/prop_tags.h"
#include "pst/messaging/store_writer.h"
#include "pst/ndb/file_writer.h"
#include "pst/read/checker.h"

namespace pst::messaging {
namespace {

namespace fs = std::filesystem;
using ltp::PropValue;

class TempDir {
 public:
  const fs::path& path() const { return path_; }

 private:
  ::fs::testing::TempTree tree_;
  fs::path path_ = tree_.root();
};

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  pclose(pipe);
  return out;
}

MessageContent Mail(const std::string& subject, bool read, std::size_t attachmentBytes) {
  MessageContent m;
  m.props = {{tag::kSubject, PropValue::StringUtf8(subject)},
             {tag::kMessageFlags, PropValue::Int32(read ? tag::kMsgFlagRead : 0)},
             {tag::kSentRepresentingName, PropValue::StringUtf8("Sender S\u00e9")},
             {tag::kDisplayTo, PropValue::StringUtf8("Ann")},
             {tag::kMessageDeliveryTime, PropValue::Time(0x01DA000000000000ull)},
             {tag::kClientSubmitTime, PropValue::Time(0x01DA000000000000ull)},
             {0x1000001F, PropValue::StringUtf8("Body of " + subject)}};
  m.recipients.push_back({{{tag::kDisplayName, PropValue::StringUtf8("Ann")},
                           {tag::kAddressType, PropValue::StringUtf8("SMTP")},
                           {tag::kEmailAddress, PropValue::StringUtf8("ann@example.org")}}});
  if (attachmentBytes != 0) {
    AttachmentContent a;
    a.props = {{tag::kAttachLongFilename, PropValue::StringUtf8("data.bin")}};
    std::vector<std::uint8_t> bytes(attachmentBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13);
    a.data = AttachmentData::Bytes(std::move(bytes));
    m.attachments.push_back(std::move(a));
  }
  return m;
}

TEST(MessagingStoreFile, IndependentReadersAgree) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = (dir.path() / "out.pst").string();
  ndb::FileWriterOptions fileOptions;
  fileOptions.sync = false;
  quill::Result<std::unique_ptr<ndb::FileWriter>> file = ndb::FileWriter::Create(path, fileOptions);
  ASSERT_TRUE(file.ok()) << file.status().ToString();
  StoreOptions options;
  options.displayName = u"Quill Test";
  quill::Result<std::unique_ptr<StoreWriter>> created = StoreWriter::Create(**file, options);
  ASSERT_TRUE(created.ok());
  StoreWriter& store = **created;

  const ndb::Nid inbox = store.CreateFolder(store.ipmSubtree(), u"Posteingang \u00e4").value();
  const ndb::Nid deep =
      store.CreateFolder(store.CreateFolder(inbox, u"2024").value(), u"\u65e5\u672c").value();
  ASSERT_TRUE(store.SetSpecialFolder(SpecialFolder::kInbox, inbox).ok());
  // Enough messages for a contents table with a subnode row matrix and an indexed row index.
  constexpr int kMany = 1200;
  for (int i = 0; i < kMany; ++i) {
    ASSERT_TRUE(store.AddMessage(inbox, Mail("Message " + std::to_string(i), i % 3 == 0, 0)).ok());
  }
  // A body past one block: a property value in a subnode with a data tree of its own.
  MessageContent withAttachment = Mail("With attachment", false, 100000);
  withAttachment.props.emplace_back(0x1000001F, PropValue::String(std::u16string(30000, u'\u00df')));
  ASSERT_TRUE(store.AddMessage(deep, withAttachment).ok());
  MessageContent forward = Mail("Forward", true, 0);
  AttachmentContent embedded;
  embedded.props = {{tag::kAttachLongFilename, PropValue::StringUtf8("original.eml")}};
  embedded.data = AttachmentData::Embedded(std::make_shared<MessageContent>(Mail("Original", true, 500)));
  forward.attachments.push_back(embedded);
  ASSERT_TRUE(store.AddMessage(store.deletedItems(), forward).ok());
  ASSERT_TRUE(store.Close().ok());
  quill::Status closed = (*file)->Close();
  ASSERT_TRUE(closed.ok()) << closed.ToString();

  // A copy for readers that only run elsewhere (scripts/cross_build.sh checks the store written
  // under wine with Linux tools).
  if (const char* copy = std::getenv("QUILL_STORE_COPY")) {
    ASSERT_TRUE(fs::copy_file(path, copy, fs::copy_options::overwrite_existing)) << copy;
  }
  quill::Result<read::CheckReport> report = read::CheckFile(path);
  ASSERT_TRUE(report.ok()) << report.status().ToString();
  for (const read::Finding& f : report->findings) ADD_FAILURE() << f.where << ": " << f.what;
  for (const read::Finding& f : report->notes) ADD_FAILURE() << "note: " << f.where << ": " << f.what;
  EXPECT_EQ(report->messages, static_cast<std::size_t>(kMany + 3)) << "the embedded one included";
  EXPECT_EQ(report->attachments, 3u);

  // Anything said is a failure to import (or, under wine, to start a Linux program at all).
  if (!RunCommand("/usr/bin/python3 -c 'import pypff' 2>&1").empty()) {
    GTEST_SKIP() << "python3-pypff not available";
  }
  const fs::path script = dir.path() / "walk.py";
  std::ofstream(script) << R"(import sys, pypff
f = pypff.file(); f.open(sys.argv[1])
def flags(m):
    return [e.data_as_integer for e in m.get_record_set(0).entries if e.entry_type == 0x0E07][0]
def walk(folder, depth):
    unread = sum(1 for m in folder.sub_messages if not flags(m) & 1)
    print('%s%s|%d|%d' % ('  ' * depth, folder.name or '', folder.number_of_sub_messages, unread))
    for m in folder.sub_messages:
        if m.number_of_attachments:
            a = m.get_attachment(0)
            method = [e.data_as_integer for e in a.get_record_set(0).entries if e.entry_type == 0x3705][0]
            if method == 1:
                print('%s* %s|%d|%d' % ('  ' * depth, m.subject, a.size, len(a.read_buffer(a.size))))
            else:
                print('%s* %s|method %d' % ('  ' * depth, m.subject, method))
    for s in folder.sub_folders: walk(s, depth + 1)
walk(f.get_root_folder(), 0)
m = f.get_root_folder().get_sub_folder(1).get_sub_folder(1).get_sub_message(777)
print(m.subject, m.plain_text_body.decode('utf-8'))
m = f.get_root_folder().get_sub_folder(1).get_sub_folder(1).get_sub_folder(0).get_sub_folder(0).get_sub_message(0)
body = m.plain_text_body.decode('utf-8')
print(len(body), set(body))
)";
  const std::string out = RunCommand("/usr/bin/python3 " + script.string() + " " + path + " 2>&1");
  const int unread = kMany - (kMany + 2) / 3;
  std::ostringstream expected;
  // libpff lists subfolders in row-id order.
  expected << "|0|0\n"
           << "  SPAM Search Folder 2|0|0\n"
           << "  Top of Personal Folders|0|0\n"
           << "    Deleted Items|1|0\n"
           << "    * Forward|method 5\n"
           << "    Posteingang \u00e4|" << kMany << "|" << unread << "\n"
           << "      2024|0|0\n"
           << "        \u65e5\u672c|1|1\n"
           << "        * With attachment|100000|100000\n"
           << "  Search Root|0|0\n"
           << "Message 777 Body of Message 777\n"
           << "30000 {'\u00df'}\n";
  EXPECT_EQ(out, expected.str());
}

}  // namespace
}  // namespace pst::messaging
