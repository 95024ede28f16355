#include "pst/store/pst_folder.h"

#include <sys/stat.h>

#include <chrono>

#include "mime/message_file.h"
#include "pst/import/message_builder.h"
#include "pst/messaging/prop_tags.h"
#include "pst/store/pst_session.h"
#include "pst/store/store_service.h"

namespace pst::store {
namespace {

class PstUtils final : public engine::MapiUtils {
 public:
  quill::Status HrSetOneProp(engine::MapiObject* object, std::uint32_t tag, int value, bool save) override {
    auto* message = dynamic_cast<PstMessage*>(object);
    if (message == nullptr) return quill::Status::InvalidArgument("not a message of this store");
    if (tag != messaging::tag::kMessageFlags) return quill::Status::NotSupported("property " + std::to_string(tag));
    // The value is kept on the message object at once; "save" asks for it to be stored with the
    // message, which is what Save does.
    (void)save;
    message->SetFlags(value);
    return quill::Status::Ok();
  }
};

class PstStoreService final : public engine::StoreService {
 public:
  quill::Result<std::unique_ptr<engine::StoreSession>> CreateSession() override {
    return std::unique_ptr<engine::StoreSession>(new PstSession());
  }
  quill::Result<std::unique_ptr<engine::MapiUtils>> CreateUtils() override {
    return std::unique_ptr<engine::MapiUtils>(new PstUtils());
  }
};

}  // namespace

std::unique_ptr<engine::StoreService> MakeStoreService() { return std::make_unique<PstStoreService>(); }

std::string PstFolder::Name() const { return session_.FolderName(nid_); }

quill::Result<std::vector<std::string>> PstFolder::FolderNames() {
  if (!session_.open()) return quill::Status::InvalidArgument("the store is not open");
  std::vector<std::string> names;
  for (ndb::Nid child : session_.writer().Subfolders(nid_)) names.push_back(session_.FolderName(child));
  return names;
}

quill::Result<std::unique_ptr<engine::StoreFolder>> PstFolder::AddFolder(const std::string& name, int kind) {
  if (kind != engine::kFolderKindMail) return quill::Status::NotSupported("folder kind " + std::to_string(kind));
  if (!session_.open()) return quill::Status::InvalidArgument("the store is not open");
  auto nid = session_.CreateFolder(nid_, name, u"IPF.Note");
  if (!nid.ok()) return nid.status();
  return session_.FolderObject(nid.value());
}

quill::Result<std::unique_ptr<engine::StoreMessage>> PstFolder::AddItem(int kind) {
  if (kind != engine::kItemKindMail) return quill::Status::NotSupported("item kind " + std::to_string(kind));
  if (!session_.open()) return quill::Status::InvalidArgument("the store is not open");
  return std::unique_ptr<engine::StoreMessage>(new PstMessage(session_, nid_));
}

quill::Status PstMessage::Import(const std::string& path, int format) {
  if (format != engine::kImportRfc822) return quill::Status::NotSupported("import format " + std::to_string(format));
  auto parsed = mime::ReadMessageFile(path);
  if (!parsed.ok()) return parsed.status();
  import::ImportOptions options;
  options.now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  options.fileModified = options.now;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    options.fileModified = std::chrono::sys_seconds(std::chrono::seconds(st.st_mtime));
  }
  options.nameMap = &session_.writer().nameMap();
  content_ = import::WithEmbeddedMessages(import::BuildMessage(parsed.value(), options));
  return quill::Status::Ok();
}

quill::Status PstMessage::Save() {
  if (saved_) return quill::Status::Ok();
  if (!session_.open()) return quill::Status::InvalidArgument("the store is not open");
  if (flags_ >= 0) {
    constexpr int kMsgFlagUnsent = 0x08;
    int flags = flags_ & ~(messaging::tag::kMsgFlagHasAttach | kMsgFlagUnsent);
    if (!content_.attachments.empty()) flags |= messaging::tag::kMsgFlagHasAttach;
    bool replaced = false;
    for (messaging::Property& p : content_.props) {
      if (p.first == messaging::tag::kMessageFlags) {
        p.second = ltp::PropValue::Int32(flags);
        replaced = true;
      }
    }
    if (!replaced) content_.props.push_back({messaging::tag::kMessageFlags, ltp::PropValue::Int32(flags)});
  }
  auto nid = session_.writer().AddMessage(folder_, content_);
  if (!nid.ok()) return nid.status();
  saved_ = true;
  content_ = messaging::MessageContent();
  return quill::Status::Ok();
}

}  // namespace pst::store
