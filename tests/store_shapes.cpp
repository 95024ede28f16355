// store_shapes KIND OUT.pst: writes a store of one of the shapes the readers are tested on.
//
//   empty       only what a new store holds: the default folders the store service makes
//   deep        1,020 folders: 34 chains 30 deep, names in many scripts, a message at each bottom
//   many        100,000 small messages in one folder
//   attachment  one message with a 20 MiB attachment (a data tree of two levels)
//   embedded    a message holding a message holding a message holding a message
//   lookalike   40 MiB of attachment bytes that read like free-map page types, stored unencoded
//               (past 32 MiB the checker looks for free-map pages beside the allocation maps)
#include <cstdio>
#include <memory>
#include <string>

#include "common/text.h"
#include "pst/messaging/prop_tags.h"
#include "pst/messaging/store_writer.h"
#include "pst/ndb/file_writer.h"
#include "pst/store/store_service.h"

namespace {

using pst::ltp::PropValue;
using pst::messaging::MessageContent;
namespace tag = pst::messaging::tag;

int Fail(const quill::Status& s) {
  std::fprintf(stderr, "store_shapes: %s\n", s.ToString().c_str());
  return 1;
}

MessageContent Message(const std::string& subject) {
  MessageContent m;
  m.props = {
      {tag::kMessageClass, PropValue::StringUtf8("IPM.Note")},
      {tag::kSubject, PropValue::StringUtf8(subject)},
      {tag::kSentRepresentingName, PropValue::StringUtf8("Ada Marrow")},
      {pst::ltp::MakeTag(0x0C1A, pst::ltp::PropType::kString), PropValue::StringUtf8("Ada Marrow")},
      {pst::ltp::MakeTag(0x1000, pst::ltp::PropType::kString), PropValue::StringUtf8("Body of " + subject)},
      {tag::kMessageFlags, PropValue::Int32(1)}};
  pst::messaging::RecipientContent r;
  r.props = {{tag::kDisplayName, PropValue::StringUtf8("Bruno Feld")},
             {tag::kAddressType, PropValue::StringUtf8("SMTP")},
             {tag::kEmailAddress, PropValue::StringUtf8("bruno@example.org")},
             {tag::kRecipientType, PropValue::Int32(1)}};
  m.recipients.push_back(std::move(r));
  return m;
}

const char* const kNames[] = {"Входящие", "受信トレイ", "البريد",  "Ελληνικά", "עברית",      "हिन्दी",
                              "한국어",   "📬 Post",     "Čeština", "ไทย",      "Tiếng Việt", "Ünïcødé"};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: store_shapes empty|deep|many|attachment|embedded OUT.pst\n");
    return 2;
  }
  const std::string kind = argv[1];
  if (kind == "empty") {
    // Through the store service, exactly as a conversion opens a store before its first folder.
    auto service = pst::store::MakeStoreService();
    auto session = service->CreateSession();
    if (!session.ok()) return Fail(session.status());
    auto opened = (*session)->LogonPstStore(argv[2], engine::kStoreFormatUnicode, "Shapes");
    if (!opened.ok()) return Fail(opened.status());
    if (quill::Status st = (*opened)->ValidateIPMTree(); !st.ok()) return Fail(st);
    if (quill::Status st = (*session)->Logoff(); !st.ok()) return Fail(st);
    return 0;
  }
  pst::ndb::FileWriterOptions fileOptions;
  fileOptions.sync = false;
  if (kind == "lookalike") fileOptions.crypt = pst::ndb::CryptMethod::kNone;
  auto file = pst::ndb::FileWriter::Create(argv[2], fileOptions);
  if (!file.ok()) return Fail(file.status());
  pst::messaging::StoreOptions storeOptions;
  storeOptions.displayName = u"Shapes";
  auto store = pst::messaging::StoreWriter::Create(**file, storeOptions);
  if (!store.ok()) return Fail(store.status());
  pst::messaging::StoreWriter& s = **store;
  auto inbox = s.CreateFolder(s.ipmSubtree(), u"Inbox");
  if (!inbox.ok()) return Fail(inbox.status());
  if (quill::Status st = s.SetSpecialFolder(pst::messaging::SpecialFolder::kInbox, *inbox); !st.ok())
    return Fail(st);

  if (kind == "deep") {
    for (int chain = 0; chain < 34; ++chain) {
      pst::ndb::Nid parent = s.ipmSubtree();
      for (int level = 0; level < 30; ++level) {
        const std::string name = std::string(kNames[(chain + level) % 12]) + " " + std::to_string(chain) +
                                 "." + std::to_string(level);
        auto folder = s.CreateFolder(parent, quill::Utf8ToUtf16(name));
        if (!folder.ok()) return Fail(folder.status());
        parent = *folder;
      }
      auto m = s.AddMessage(
          parent, Message(std::string(kNames[chain % 12]) + " bottom of chain " + std::to_string(chain)));
      if (!m.ok()) return Fail(m.status());
    }
  } else if (kind == "many") {
    for (int i = 0; i < 100000; ++i) {
      auto m = s.AddMessage(*inbox, Message("message " + std::to_string(i)));
      if (!m.ok()) return Fail(m.status());
    }
  } else if (kind == "attachment") {
    MessageContent m = Message("twenty MiB attached");
    pst::messaging::AttachmentContent a;
    a.props = {{tag::kAttachLongFilename, PropValue::StringUtf8("big.bin")},
               {tag::kAttachFilename, PropValue::StringUtf8("big.bin")}};
    // A pattern the test can compute again: byte i is bits 13..20 of i * 2654435761 (mod 2^32).
    std::vector<std::uint8_t> bytes(20u << 20);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = static_cast<std::uint8_t>((static_cast<std::uint32_t>(i) * 2654435761u) >> 13);
    }
    a.data = pst::messaging::AttachmentData::Bytes(std::move(bytes));
    m.attachments.push_back(std::move(a));
    auto added = s.AddMessage(*inbox, m);
    if (!added.ok()) return Fail(added.status());
  } else if (kind == "lookalike") {
    MessageContent m = Message("bytes like map pages");
    pst::messaging::AttachmentContent a;
    a.props = {{tag::kAttachLongFilename, PropValue::StringUtf8("pages.bin")}};
    // 0x82 is the page type of a free map
    a.data = pst::messaging::AttachmentData::Bytes(std::vector<std::uint8_t>(40u << 20, 0x82));
    m.attachments.push_back(std::move(a));
    auto added = s.AddMessage(*inbox, m);
    if (!added.ok()) return Fail(added.status());
  } else if (kind == "embedded") {
    std::shared_ptr<const MessageContent> inner = std::make_shared<MessageContent>(Message("level 3"));
    for (int level = 2; level >= 0; --level) {
      MessageContent outer = Message(level == 0 ? "level 0" : "level " + std::to_string(level));
      pst::messaging::AttachmentContent a;
      a.props = {
          {tag::kAttachLongFilename, PropValue::StringUtf8("level " + std::to_string(level + 1) + ".eml")}};
      a.data = pst::messaging::AttachmentData::Embedded(inner);
      outer.attachments.push_back(std::move(a));
      inner = std::make_shared<MessageContent>(std::move(outer));
    }
    auto added = s.AddMessage(*inbox, *inner);
    if (!added.ok()) return Fail(added.status());
  } else {
    std::fprintf(stderr, "store_shapes: unknown shape %s\n", kind.c_str());
    return 2;
  }
  if (quill::Status st = s.Close(); !st.ok()) return Fail(st);
  if (quill::Status st = (*file)->Close(); !st.ok()) return Fail(st);
  return 0;
}
