#include "pst/store/pst_session.h"

#include <strings.h>

#include <chrono>
#include <future>

#include "common/cancel.h"
#include "common/case_fold.h"
#include "common/text.h"
#include "pst/folder_depth.h"
#include "pst/store/pst_folder.h"

// The engine folds deeper source trees at the level the writer stops at: the two must agree.
static_assert(engine::kMaxFolderLevels == pst::kMaxFolderDepth);

namespace pst::store {
namespace {

struct DefaultFolder {
  const char* name;
  const char16_t* containerClass;
  messaging::SpecialFolder role;
};

// The folders a new store has below the top, as Outlook makes them.
using Role = messaging::SpecialFolder;
constexpr DefaultFolder kDefaultFolders[] = {
    {"Inbox", u"IPF.Note", Role::kInbox},
    {"Outbox", u"IPF.Note", Role::kOutbox},
    {"Sent Items", u"IPF.Note", Role::kSentItems},
    {"Drafts", u"IPF.Note", Role::kDrafts},
    {"Calendar", u"IPF.Appointment", Role::kCalendar},
    {"Contacts", u"IPF.Contact", Role::kContacts},
    {"Journal", u"IPF.Journal", Role::kJournal},
    {"Notes", u"IPF.StickyNote", Role::kNotes},
    {"Tasks", u"IPF.Task", Role::kTasks},
    {"Junk E-mail", u"IPF.Note", Role::kJunk},
};

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

quill::Status MissingFolder(const std::string& name) {
  return quill::Status::NotFound("Folder \"" + name + "\" does not exist");
}

}  // namespace

std::string PstStore::EntryID() const { return session_.entryId_; }

quill::Status PstStore::ValidateIPMTree() {
  if (!session_.open()) return quill::Status::InvalidArgument("the store is not open");
  messaging::StoreWriter& writer = session_.writer();
  for (const DefaultFolder& f : kDefaultFolders) {
    std::optional<ndb::Nid> nid = session_.FindChild(writer.ipmSubtree(), f.name);
    if (!nid) {
      QUILL_ASSIGN_OR_RETURN(nid, session_.CreateFolder(writer.ipmSubtree(), f.name, f.containerClass));
    }
    const std::string name = f.name;
    if (name == "Inbox") {
      QUILL_RETURN_IF_ERROR(writer.SetSpecialFolder(messaging::SpecialFolder::kInbox, *nid));
      session_.defaults_[engine::kDefaultFolderInbox] = *nid;
    } else if (name == "Outbox") {
      QUILL_RETURN_IF_ERROR(writer.SetSpecialFolder(messaging::SpecialFolder::kOutbox, *nid));
    } else if (name == "Sent Items") {
      QUILL_RETURN_IF_ERROR(writer.SetSpecialFolder(messaging::SpecialFolder::kSentItems, *nid));
      session_.defaults_[engine::kDefaultFolderSent] = *nid;
    } else {
      QUILL_RETURN_IF_ERROR(writer.SetSpecialFolder(f.role, *nid));
    }
  }
  return quill::Status::Ok();
}

quill::Result<std::unique_ptr<engine::StoreFolder>> PstStore::GetDefaultFolder(int which) {
  const auto it = session_.defaults_.find(which);
  if (!session_.open() || it == session_.defaults_.end()) {
    return quill::Status::NotFound("the store has no default folder " + std::to_string(which));
  }
  return session_.FolderObject(it->second);
}

quill::Result<std::unique_ptr<engine::StoreFolder>> PstStore::IPMRootFolder() {
  if (!session_.open()) return quill::Status::InvalidArgument("the store is not open");
  return session_.FolderObject(session_.writer().ipmSubtree());
}

PstSession::~PstSession() {
  // Not logged off: the file was never completed, and the target stays as it was.
  writer_.reset();
  if (file_) file_->Abandon();
}

quill::Result<engine::Store*> PstSession::LogonPstStore(const std::string& path, int format,
                                                        const std::string& displayName) {
  if (format != engine::kStoreFormatUnicode)
    return quill::Status::NotSupported("store format " + std::to_string(format));
  if (writer_ != nullptr) return quill::Status::InvalidArgument("this session has a store open already");
  if (path.empty()) return quill::Status::InvalidArgument("no path for the data file");
  ndb::FileWriterOptions fileOptions;
  fileOptions.env = env_;
  QUILL_ASSIGN_OR_RETURN(file_, ndb::FileWriter::Create(path, fileOptions));
  messaging::StoreOptions options;
  options.displayName = quill::Utf8ToUtf16(displayName);
  // A large attachment is written a piece at a time, with the caller's event loop given a turn
  // between pieces; a stop leaves that message unsaved and the store open.
  options.betweenPieces = [this]() -> quill::Status {
    if (quill::CancelRequested()) return quill::StoppedStatus();
    Yield();
    return quill::Status::Ok();
  };
  auto writer = messaging::StoreWriter::Create(*file_, options);
  if (!writer.ok()) {
    file_->Abandon();
    file_.reset();
    return writer.status();
  }
  writer_ = std::move(writer.value());
  displayName_ = displayName;
  entryId_ = Hex(writer_->EntryIdOf(messaging::kNidMessageStore));
  store_ = std::make_unique<PstStore>(*this);
  return static_cast<engine::Store*>(store_.get());
}

quill::Result<engine::Store*> PstSession::GetStoreFromID(const std::string& entryId) {
  if (!open() || strcasecmp(entryId.c_str(), entryId_.c_str()) != 0) {
    return quill::Status::NotFound("no open store has the entry id " + entryId);
  }
  return static_cast<engine::Store*>(store_.get());
}

quill::Result<std::unique_ptr<engine::StoreFolder>> PstSession::GetFolderFromPath(const std::string& path) {
  if (!open()) return quill::Status::InvalidArgument("the store is not open");
  // "\\" + display name, then "\"-separated elements; empty elements (a final "\") are passed over.
  if (path.compare(0, 2, "\\\\") != 0) return quill::Status::InvalidArgument("not a folder path: " + path);
  const std::size_t storeEnd = std::min(path.find('\\', 2), path.size());
  const std::string storeName = path.substr(2, storeEnd - 2);
  if (!quill::EqualIgnoringCase(quill::Utf8ToUtf16(storeName), quill::Utf8ToUtf16(displayName_))) {
    return MissingFolder(storeName);
  }
  ndb::Nid folder = writer_->ipmSubtree();
  std::size_t pos = storeEnd;
  while (pos < path.size()) {
    const std::size_t end = std::min(path.find('\\', pos + 1), path.size());
    const std::string element = path.substr(pos + 1, end - pos - 1);
    if (!element.empty()) {
      const std::optional<ndb::Nid> child = FindChild(folder, element);
      if (!child) return MissingFolder(element);
      folder = *child;
    }
    pos = end;
  }
  return FolderObject(folder);
}

quill::Status PstSession::Logoff() {
  if (!open()) return quill::Status::InvalidArgument("the store is not open");
  loggedOff_ = true;
  readAhead_.reset();
  // Completing the file (the B-trees, the maps, the flush to disk) and freeing what the writer
  // kept take over a second at a million messages, and longer on a slow disk: both happen on a
  // thread of their own, which owns the writer from here on, while the caller's event loop keeps
  // getting its turns.
  std::future<quill::Status> closing =
      std::async(std::launch::async, [writer = std::move(writer_), file = std::move(file_), this]() mutable {
        quill::Status status = writer->Close();
        if (status.ok()) status = file->Close();
        if (!status.ok()) file->Abandon();
        if (status.ok()) writtenPath_ = file->writtenPath();
        writer.reset();
        file.reset();
        return status;
      });
  while (closing.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) Yield();
  return closing.get();
}

// Workers never touch the name map, which the writer uses on this thread: the ids they need are
// looked up here first. Should the map be full, messages simply go without those properties.
import::ImportOptions PstSession::ImportOptionsForWorkers(){import::ImportOptions options;
options.nameMap = &writer_->nameMap();
if (!import::DetachNameMap(options).ok()) options.nameMap = nullptr;
return options;
}  // namespace pst::store

bool PstSession::WillImport(const std::string& path) {
  if (!open()) return false;
  if (!readAhead_) {
    readAhead_ = std::make_unique<ReadAhead>(
        [options = ImportOptionsForWorkers()](const std::string& p, const FileFacts& facts) {
          return PrepareMessage(p, facts, options);
        });
  }
  return readAhead_->Offer(path);
}

PreparedMessage PstSession::TakePrepared(const std::string& path) {
  if (!readAhead_) return PrepareMessage(path, ImportOptionsForWorkers());
  return readAhead_->Take(path, yield_);
}

quill::Result<ndb::Nid> PstSession::CreateFolder(ndb::Nid parent, const std::string& name,
                                                 const char16_t* containerClass) {
  if (FindChild(parent, name))
    return quill::Status::AlreadyExists("a folder named \"" + name + "\" exists already");
  return writer_->CreateFolder(parent, quill::Utf8ToUtf16(name), containerClass);
}

std::unique_ptr<engine::StoreFolder> PstSession::FolderObject(ndb::Nid nid) {
  return std::make_unique<PstFolder>(*this, nid);
}

}  // namespace pst::store
