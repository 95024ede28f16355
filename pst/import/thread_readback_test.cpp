// The thread in tests/data/thread written into a store through the import mapping and read back
// with our own reader: one conversation-index header block for the whole thread, one level per
// reply, tracking on, and a topic without prefixes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "mime/message_file.h"
#include "pst/import/message_builder.h"
#include "pst/messaging/store_writer.h"
#include "pst/ndb/file_writer.h"
#include "pst/read/messaging.h"
#include "pst/read/properties.h"
#include "pst/read/pst_file.h"

namespace pst::import {
namespace {

constexpr std::uint16_t kIdConversationTopic = 0x0070;
constexpr std::uint16_t kIdConversationIndex = 0x0071;
constexpr std::uint16_t kIdInternetMessageId = 0x1035;
constexpr std::uint16_t kIdConversationIndexTracking = 0x3016;

TEST(ThreadReadbackTest, OurReaderSeesOneConversationWithOneLevelPerReply) {
  const std::string dir = QUILL_SOURCE_DIR "/tests/data/thread/";
  const std::string path = ::testing::TempDir() + "quill-thread-" + std::to_string(::getpid()) + ".pst";
  {
    ndb::FileWriterOptions fileOptions;
    fileOptions.sync = false;
    auto file = ndb::FileWriter::Create(path, fileOptions);
    ASSERT_TRUE(file.ok()) << file.status().ToString();
    auto store = messaging::StoreWriter::Create(**file);
    ASSERT_TRUE(store.ok()) << store.status().ToString();
    auto inbox = (*store)->CreateFolder((*store)->ipmSubtree(), u"Inbox");
    ASSERT_TRUE(inbox.ok());
    ImportOptions options;
    options.nameMap = &(*store)->nameMap();
    std::vector<ndb::Nid> nids;
    for (const char* name : {"1-root.eml", "2-reply.eml", "3-reply-to-reply.eml", "4-outlook-reply.eml"}) {
      quill::Result<mime::ParsedMessage> content = mime::ReadMessageFile(dir + name);
      ASSERT_TRUE(content.ok()) << name << ": " << content.status().ToString();
      quill::Result<ndb::Nid> nid = (*store)->AddMessage(*inbox, BuildMessage(*content, options).message);
      ASSERT_TRUE(nid.ok()) << nid.status().ToString();
      nids.push_back(*nid);
    }
    ASSERT_TRUE((*store)->Close().ok());
    ASSERT_TRUE((*file)->Close().ok());

    auto pst = read::PstFile::Open(path);
    ASSERT_TRUE(pst.ok()) << pst.status().ToString();
    std::map<std::string, std::vector<std::uint8_t>> index;
    for (ndb::Nid nid : nids) {
      quill::Result<read::Message> m = read::ReadMessage(**pst, nid);
      ASSERT_TRUE(m.ok()) << m.status().ToString();
      EXPECT_TRUE(m->issues.empty());
      const std::optional<std::string> id = read::GetString(m->props, kIdInternetMessageId);
      ASSERT_TRUE(id.has_value());
      EXPECT_EQ(read::GetBool(m->props, kIdConversationIndexTracking), true) << *id;
      EXPECT_EQ(read::GetString(m->props, kIdConversationTopic), "Budget for the spring fair") << *id;
      index[*id] = read::GetBinary(m->props, kIdConversationIndex).value_or(std::vector<std::uint8_t>{});
    }
    // The strict reader beside the checkout reads the same store.
    const char* shared = std::getenv("QUILL_SHARED_DIR");
    const std::string strict = std::string(shared != nullptr ? shared : "") + "/tools/pst-check/pst-check";
    if (shared != nullptr && ::access(strict.c_str(), X_OK) == 0) {
      EXPECT_EQ(std::system(("'" + strict + "' '" + path + "' > /dev/null").c_str()), 0);
    }
    const std::vector<std::uint8_t>& root = index["<root.1583139600@example.org>"];
    const std::vector<std::uint8_t>& reply = index["<reply.ben.1@example.net>"];
    ASSERT_EQ(root.size(), 22u);
    ASSERT_EQ(reply.size(), 27u);
    EXPECT_TRUE(std::equal(root.begin(), root.end(), reply.begin()));
    for (const char* deeper : {"<reply.ada.2@example.org>", "<DB7PR01MB0001@example.com>"}) {
      ASSERT_EQ(index[deeper].size(), 32u) << deeper;
      EXPECT_TRUE(std::equal(reply.begin(), reply.end(), index[deeper].begin())) << deeper;
    }
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace pst::import
