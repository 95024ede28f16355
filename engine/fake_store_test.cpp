#include "engine/fake_store_test.h"

#include <algorithm>
#include <fstream>

#include "common/case_fold.h"
#include "common/text.h"
#include "engine/message_names.h"

namespace engine::testing {
namespace {

class FakeMapiObject : public MapiObject {
 public:
  int flags = 0;
};

class FakeMessage : public StoreMessage {
 public:
  FakeMessage(FakeStoreService& service, FakeFolder& folder) : service_(service), folder_(folder) {}
  quill::Status Import(const std::string& path, int format) override {
    if (format != kImportRfc822) return quill::Status::InvalidArgument("format");
    if (service_.readAheadWindow > 0) service_.readAheadLog.push_back("import " + LastPathPart(path));
    if (service_.failImportOf.count(LastPathPart(path)))
      return quill::Status::Corruption("injected: " + path);
    std::ifstream in(path, std::ios::binary);
    if (!in) return quill::Status::IOError("cannot read " + path);
    if (in.peek() == std::ifstream::traits_type::eof())
      return quill::Status::InvalidArgument(kEmptyFileDescription);
    path_ = path;
    return quill::Status::Ok();
  }
  MapiObject* MAPIOBJECT() override { return &object_; }
  quill::Status Save() override {
    if (service_.failSaveOf.count(LastPathPart(path_))) {
      ++service_.savesRefused;
      return quill::Status::IOError("injected: cannot save " + path_);
    }
    folder_.messages.push_back(path_);
    folder_.flags[path_] = object_.flags;
    return quill::Status::Ok();
  }

 private:
  FakeStoreService& service_;
  FakeFolder& folder_;
  FakeMapiObject object_;
  std::string path_;
};

class FakeFolderHandle : public StoreFolder {
 public:
  FakeFolderHandle(FakeStoreService& service, FakeFolder& folder) : service_(service), folder_(folder) {}
  std::string Name() const override { return folder_.name; }
  quill::Result<std::vector<std::string>> FolderNames() override {
    std::vector<std::string> names;
    for (const auto& c : folder_.children) names.push_back(c->name);
    return names;
  }
  quill::Result<std::unique_ptr<StoreFolder>> AddFolder(const std::string& name, int kind) override {
    if (kind != kFolderKindMail) return quill::Status::InvalidArgument("kind");
    if (name.empty() || folder_.Child(name) != nullptr)
      return quill::Status::AlreadyExists("folder exists: " + name);
    if (service_.failAddFolder.count(name)) {
      ++service_.foldersRefused;
      return quill::Status::IOError("injected: cannot create folder " + name);
    }
    folder_.children.push_back(std::make_unique<FakeFolder>());
    folder_.children.back()->name = name;
    return std::unique_ptr<StoreFolder>(new FakeFolderHandle(service_, *folder_.children.back()));
  }
  quill::Result<std::unique_ptr<StoreMessage>> AddItem(int kind) override {
    if (kind != kItemKindMail) return quill::Status::InvalidArgument("kind");
    return std::unique_ptr<StoreMessage>(new FakeMessage(service_, folder_));
  }

 private:
  FakeStoreService& service_;
  FakeFolder& folder_;
};

class FakeStore : public Store {
 public:
  FakeStore(FakeStoreService& service, std::shared_ptr<FakeStoreData> data)
      : service_(service), data_(data) {}
  std::string EntryID() const override { return "ENTRY:" + data_->path; }
  quill::Status ValidateIPMTree() override {
    for (const char* name : {"Inbox", "Sent Items", "Deleted Items", "Outbox"}) {
      if (data_->top.Child(name) == nullptr) {
        data_->top.children.push_back(std::make_unique<FakeFolder>());
        data_->top.children.back()->name = name;
      }
    }
    return quill::Status::Ok();
  }
  quill::Result<std::unique_ptr<StoreFolder>> GetDefaultFolder(int which) override {
    const char* name = which == kDefaultFolderInbox  ? "Inbox"
                       : which == kDefaultFolderSent ? "Sent Items"
                                                     : "";
    FakeFolder* f = data_->top.Child(name);
    if (f == nullptr) return quill::Status::NotFound("no default folder");
    return std::unique_ptr<StoreFolder>(new FakeFolderHandle(service_, *f));
  }
  quill::Result<std::unique_ptr<StoreFolder>> IPMRootFolder() override {
    return std::unique_ptr<StoreFolder>(new FakeFolderHandle(service_, data_->top));
  }
  FakeStoreData& data() { return *data_; }

 private:
  FakeStoreService& service_;
  std::shared_ptr<FakeStoreData> data_;
};

class FakeSession : public StoreSession {
 public:
  explicit FakeSession(FakeStoreService& service) : service_(service) {}
  ~FakeSession() override {
    if (store_ && !loggedOff_) ++service_.sessionsReleasedWithoutLogoff;
  }
  quill::Result<Store*> LogonPstStore(const std::string& path, int format,
                                      const std::string& displayName) override {
    if (format != kStoreFormatUnicode) return quill::Status::InvalidArgument("format");
    if (service_.failLogonFor.count(path)) return quill::Status::IOError(path + ": Permission denied");
    auto data = std::make_shared<FakeStoreData>();
    data->path = path;
    data->displayName = displayName;
    service_.stores.push_back(data);
    store_ = std::make_unique<FakeStore>(service_, data);
    return static_cast<Store*>(store_.get());
  }
  quill::Result<Store*> GetStoreFromID(const std::string& entryId) override {
    if (!store_ || store_->EntryID() != entryId) return quill::Status::NotFound("no store " + entryId);
    return static_cast<Store*>(store_.get());
  }
  quill::Result<std::unique_ptr<StoreFolder>> GetFolderFromPath(const std::string& path) override {
    const std::string prefix = "\\\\" + store_->data().displayName;
    if (path.compare(0, prefix.size(), prefix) != 0)
      return quill::Status::NotFound("Folder \"" + path + "\" does not exist");
    FakeFolder* folder = &store_->data().top;
    std::size_t pos = prefix.size();
    while (pos < path.size()) {
      if (path[pos] != '\\') return quill::Status::InvalidArgument("bad path " + path);
      const std::size_t end = std::min(path.find('\\', pos + 1), path.size());
      const std::string element = path.substr(pos + 1, end - pos - 1);
      if (!element.empty()) {
        FakeFolder* child = folder->Child(element);
        if (child == nullptr) return quill::Status::NotFound("Folder \"" + element + "\" does not exist");
        folder = child;
      }
      pos = end;
    }
    return std::unique_ptr<StoreFolder>(new FakeFolderHandle(service_, *folder));
  }
  bool WillImport(const std::string& path) override {
    const auto& log = service_.readAheadLog;
    const auto offered =
        std::count_if(log.begin(), log.end(), [](const std::string& e) { return e[0] == 'o'; });
    if (static_cast<std::size_t>(offered) >= (log.size() - offered) + service_.readAheadWindow) return false;
    service_.readAheadLog.push_back("offer " + LastPathPart(path));
    return true;
  }
  quill::Status Logoff() override {
    if (service_.failLogoffFor.count(store_->data().path))
      return quill::Status::IOError("injected: No space left on device");
    loggedOff_ = true;
    store_->data().loggedOff = true;
    return quill::Status::Ok();
  }

 private:
  FakeStoreService& service_;
  std::unique_ptr<FakeStore> store_;
  bool loggedOff_ = false;
};

class FakeUtils : public MapiUtils {
 public:
  quill::Status HrSetOneProp(MapiObject* object, std::uint32_t tag, int value, bool save) override {
    if (tag != kPropMessageFlags || !save) return quill::Status::InvalidArgument("tag");
    static_cast<FakeMapiObject*>(object)->flags = value;
    return quill::Status::Ok();
  }
};

void CollectPaths(const FakeFolder& folder, const std::string& prefix, std::vector<std::string>& out) {
  for (const auto& c : folder.children) {
    out.push_back(prefix + c->name);
    CollectPaths(*c, prefix + c->name + "/", out);
  }
}

}  // namespace

FakeFolder* FakeFolder::Child(const std::string& childName) {
  // The same comparison as the real store's, so that names differing only in the case of a
  // letter outside ASCII ("Ärger", "ÄRGER") meet the same collision handling here as there.
  const std::u16string wanted = quill::Utf8ToUtf16(childName);
  for (auto& c : children) {
    if (quill::EqualIgnoringCase(quill::Utf8ToUtf16(c->name), wanted)) return c.get();
  }
  return nullptr;
}

quill::Result<std::unique_ptr<StoreSession>> FakeStoreService::CreateSession() {
  ++sessionsCreated;
  return std::unique_ptr<StoreSession>(new FakeSession(*this));
}

quill::Result<std::unique_ptr<MapiUtils>> FakeStoreService::CreateUtils() {
  return std::unique_ptr<MapiUtils>(new FakeUtils());
}

const FakeFolder* FakeStoreService::Find(const FakeStoreData& store, const std::string& slashPath) {
  const FakeFolder* folder = &store.top;
  std::size_t pos = 0;
  while (pos <= slashPath.size() && !slashPath.empty()) {
    const std::size_t end = std::min(slashPath.find('/', pos), slashPath.size());
    folder = const_cast<FakeFolder*>(folder)->Child(slashPath.substr(pos, end - pos));
    if (folder == nullptr) return nullptr;
    pos = end + 1;
  }
  return folder;
}

std::vector<std::string> FakeStoreService::FolderPaths(const FakeStoreData& store) {
  std::vector<std::string> out;
  CollectPaths(store.top, "", out);
  return out;
}

}  // namespace engine::testing
