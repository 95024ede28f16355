// The session, store, folder and message objects of the store service, over one StoreWriter.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/text.h"
#include "engine/store_service.h"
#include "pst/messaging/store_writer.h"
#include "pst/ndb/file_writer.h"
#include "pst/store/read_ahead.h"

namespace pst::store {

class PstSession;

// The open store of a session: the folder tree as the facade knows it, over the writer.
class PstStore final : public engine::Store {
 public:
  explicit PstStore(PstSession& session) : session_(session) {}
  std::string EntryID() const override;
  quill::Status ValidateIPMTree() override;
  quill::Result<std::unique_ptr<engine::StoreFolder>> GetDefaultFolder(int which) override;
  quill::Result<std::unique_ptr<engine::StoreFolder>> IPMRootFolder() override;

 private:
  PstSession& session_;
};

class PstSession final : public engine::StoreSession {
 public:
  // `env`: the file system the writer writes to (the system's own when null); must outlive it.
  explicit PstSession(fs::Env* env = nullptr) : env_(env) {}
  ~PstSession() override;

  quill::Result<engine::Store*> LogonPstStore(const std::string& path, int format,
                                              const std::string& displayName) override;
  quill::Result<engine::Store*> GetStoreFromID(const std::string& entryId) override;
  quill::Result<std::unique_ptr<engine::StoreFolder>> GetFolderFromPath(const std::string& path) override;
  quill::Status Logoff() override;
  std::string WrittenPath() const override { return writtenPath_; }
  bool WillImport(const std::string& path) override;
  void SetYield(std::function<void()> yield) override { yield_ = std::move(yield); }

  // The message file at `path`, prepared: taken from the read-ahead when it was named to it.
  PreparedMessage TakePrepared(const std::string& path);

  // For the folder and message objects.
  messaging::StoreWriter& writer() { return *writer_; }
  ndb::NodeSink& sink() { return *file_; }
  // Gives the caller's event loop a turn, when the caller said how.
  void Yield() {
    if (yield_) yield_();
  }
  // The folder tree is the writer's: names as it keeps them, compared as it compares them.
  std::string FolderName(ndb::Nid nid) const { return quill::Utf16ToUtf8(writer_->FolderName(nid)); }
  // The child of `parent` whose name equals `name`, letter case ignored (common/case_fold.h).
  std::optional<ndb::Nid> FindChild(ndb::Nid parent, const std::string& name) const {
    return writer_->FindFolder(parent, quill::Utf8ToUtf16(name));
  }
  quill::Result<ndb::Nid> CreateFolder(ndb::Nid parent, const std::string& name,
                                       const char16_t* containerClass);
  std::unique_ptr<engine::StoreFolder> FolderObject(ndb::Nid nid);
  bool open() const { return writer_ != nullptr && !loggedOff_; }

 private:
  friend class PstStore;

  import::ImportOptions ImportOptionsForWorkers();

  fs::Env* env_ = nullptr;
  std::string writtenPath_;
  std::unique_ptr<ndb::FileWriter> file_;
  std::unique_ptr<messaging::StoreWriter> writer_;
  std::unique_ptr<PstStore> store_;
  std::string displayName_;
  std::string entryId_;
  std::map<int, ndb::Nid> defaults_;  // GetDefaultFolder's answers, once they exist
  bool loggedOff_ = false;
  std::function<void()> yield_;
  std::unique_ptr<ReadAhead> readAhead_;  // Started by the first WillImport.
};

}  // namespace pst::store
