// Folder and message objects of the store service.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/store_service.h"
#include "mime/parsed_message.h"
#include "pst/import/message_builder.h"
#include "pst/messaging/message_content.h"
#include "pst/ndb/node_sink.h"

namespace pst::store {

class PstSession;

class PstFolder final : public engine::StoreFolder {
 public:
  PstFolder(PstSession& session, ndb::Nid nid) : session_(session), nid_(nid) {}
  std::string Name() const override;
  quill::Result<std::vector<std::string>> FolderNames() override;
  quill::Result<std::unique_ptr<engine::StoreFolder>> AddFolder(const std::string& name, int kind) override;
  quill::Result<std::unique_ptr<engine::StoreMessage>> AddItem(int kind) override;

 private:
  PstSession& session_;
  ndb::Nid nid_;
};

// A new message: filled by Import, its flags set through the utility object, written by Save.
class PstMessage final : public engine::StoreMessage, public engine::MapiObject {
 public:
  PstMessage(PstSession& session, ndb::Nid folder) : session_(session), folder_(folder) {}
  quill::Status Import(const std::string& path, int format) override;
  engine::MapiObject* MAPIOBJECT() override { return this; }
  quill::Status Save() override;
  std::vector<std::string> ImportNotes() const override { return notes_; }

  // The message-flags property as the caller asks for it. Save settles the stored value
  // (import::MessageFlagsFor): a read state the source file records wins over the caller's, the
  // has-attachments bit follows the attachments, and an imported message is never an unsent draft.
  void SetFlags(int flags) { flags_ = flags; }

 private:
  PstSession& session_;
  ndb::Nid folder_;
  mime::ParsedMessage source_;         // As parsed; content_'s attachments borrow their bytes from it.
  messaging::MessageContent content_;  // As built.
  import::ImportOptions options_;      // As built with, for the attachments made while writing.
  std::vector<std::string> notes_;     // From the parse, for ImportNotes.
  int flags_ = -1;                     // not set
  bool saved_ = false;
};

}  // namespace pst::store
