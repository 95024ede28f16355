#include "pst/store/pst_folder.h"

#include <cstdint>

#include "common/cancel.h"
#include "pst/import/message_builder.h"
#include "pst/import/message_state.h"
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
    if (tag != messaging::tag::kMessageFlags)
      return quill::Status::NotSupported("property " + std::to_string(tag));
    // The value is kept on the message object at once; "save" asks for it to be stored with the
    // message, which is what Save does.
    (void)save;
    message->SetFlags(value);
    return quill::Status::Ok();
  }
};

class PstStoreService final : public engine::StoreService {
 public:
  explicit PstStoreService(fs::Env* env) : env_(env) {}
  quill::Result<std::unique_ptr<engine::StoreSession>> CreateSession() override {
    return std::unique_ptr<engine::StoreSession>(new PstSession(env_));
  }
  quill::Result<std::unique_ptr<engine::MapiUtils>> CreateUtils() override {
    return std::unique_ptr<engine::MapiUtils>(new PstUtils());
  }

 private:
  fs::Env* env_;
};

}  // namespace

std::unique_ptr<engine::StoreService> MakeStoreService(fs::Env* env) {
  return std::make_unique<PstStoreService>(env);
}

std::string PstFolder::Name() const { return session_.FolderName(nid_); }

quill::Result<std::vector<std::string>> PstFolder::FolderNames() {
  if (!session_.open()) return quill::Status::InvalidArgument("the store is not open");
  std::vector<std::string> names;
  for (ndb::Nid child : session_.writer().Subfolders(nid_)) names.push_back(session_.FolderName(child));
  return names;
}

quill::Result<std::unique_ptr<engine::StoreFolder>> PstFolder::AddFolder(const std::string& name, int kind) {
  if (kind != engine::kFolderKindMail)
    return quill::Status::NotSupported("folder kind " + std::to_string(kind));
  if (!session_.open()) return quill::Status::InvalidArgument("the store is not open");
  QUILL_ASSIGN_OR_RETURN(auto nid, session_.CreateFolder(nid_, name, u"IPF.Note"));
  return session_.FolderObject(nid);
}

quill::Result<std::unique_ptr<engine::StoreMessage>> PstFolder::AddItem(int kind) {
  if (kind != engine::kItemKindMail) return quill::Status::NotSupported("item kind " + std::to_string(kind));
  if (!session_.open()) return quill::Status::InvalidArgument("the store is not open");
  return std::unique_ptr<engine::StoreMessage>(new PstMessage(session_, nid_));
}

quill::Status PstMessage::Import(const std::string& path, int format) {
  if (format != engine::kImportRfc822)
    return quill::Status::NotSupported("import format " + std::to_string(format));
  PreparedMessage prepared = session_.TakePrepared(path);
  if (!prepared.status.ok()) return prepared.status;
  source_ = std::move(prepared.source);
  content_ = std::move(prepared.message);
  options_ = prepared.options;
  notes_ = std::move(prepared.notes);
  return quill::Status::Ok();
}

quill::Status PstMessage::Save() {
  if (saved_) return quill::Status::Ok();
  if (!session_.open()) return quill::Status::InvalidArgument("the store is not open");
  if (flags_ >= 0) {
    // The caller's value meets what the source file recorded by the same rule the builder used,
    // so a message saved unread in Apple Mail or Thunderbird stays unread whatever the caller set.
    const int flags =
        import::MessageFlagsFor(flags_, import::RecordedStateOf(source_), content_.AttachmentCount() > 0);
    bool replaced = false;
    for (messaging::Property& p : content_.props) {
      if (p.first == messaging::tag::kMessageFlags) {
        p.second = ltp::PropValue::Int32(flags);
        replaced = true;
      }
    }
    if (!replaced) content_.props.push_back({messaging::tag::kMessageFlags, ltp::PropValue::Int32(flags)});
  }
  if (content_.laterAttachments > 0) {
    content_.makeAttachment = [this](std::size_t i) -> quill::Result<messaging::AttachmentContent> {
      if (quill::CancelRequested()) return quill::StoppedStatus();
      if (i >= source_.attachments.size()) return quill::Status::InvalidArgument("no such attachment");
      return import::BuildAttachment(source_, i, options_);
    };
  }
  QUILL_RETURN_IF_ERROR(session_.writer().AddMessage(folder_, content_).status());
  saved_ = true;
  content_ = messaging::MessageContent();
  source_ = mime::ParsedMessage();
  return quill::Status::Ok();
}

}  // namespace pst::store
