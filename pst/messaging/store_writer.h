// StoreWriter: a new Unicode message store written through a NodeSink, laid out the way Outlook
// lays out a new one.
//
//   0x21   message store        display name, record key, entry ids of the special folders
//   0x61   name-to-id map
//   0x122  root folder          -> Top of Personal Folders (IPM subtree) -> Deleted Items, ...
//                               -> Search Root
//                               -> SPAM Search Folder 2 (search folder 0x2223 with its queue,
//                                  criteria and results table)
//   0x60D..0x610, 0x671, 0x692  empty table templates; 0x62B receive-folder table
//   0x1E1, 0x201, 0x321         search bookkeeping nodes
//
// Folders may be created under any normal folder, to any depth, with any Unicode name; two
// children of one folder never share a name, letter case ignored (common/case_fold.h). Messages
// are written to the sink as they are added; what stays in memory per message is its row of the
// folder's contents table (rows go to the sink as the table's blocks fill). Folder property
// contexts and hierarchy tables are written at Close, when their counts are final, so every count
// (PR_CONTENT_COUNT, PR_CONTENT_UNREAD, PR_SUBFOLDERS) agrees with the tables it describes.
//
// Not thread-safe. After any failed call other than an argument check or a stop (see AddMessage)
// the store is unusable: the sink may hold half an object, and every later call returns the same
// failure.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/status.h"
#include "pst/ltp/property_value.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/message_content.h"
#include "pst/messaging/name_map.h"
#include "pst/ndb/node_sink.h"

namespace pst::messaging {

inline constexpr ndb::Nid kNidMessageStore = 0x21;
inline constexpr ndb::Nid kNidRootFolder = 0x122;
inline constexpr ndb::Nid kNidSpamSearchFolder = 0x2223;

struct StoreOptions {
  std::u16string displayName = u"Personal Folders";
  // The store's unique id (PidTagRecordKey, also inside every entry id); random when unset.
  std::optional<ltp::Guid> recordKey;
  // FILETIME used for creation times the caller does not give; the current time when 0.
  std::uint64_t now = 0;
  // Called between two pieces of a large attachment's bytes (see message_writer.h): gives the
  // caller's event loop a turn; an error it returns (quill::StoppedStatus) ends that message.
  std::function<quill::Status()> betweenPieces;
};

// The folders Outlook finds by their entry ids in the store, the root folder or the Inbox.
enum class SpecialFolder {
  kInbox,
  kOutbox,
  kSentItems,
  kDrafts,
  kCalendar,
  kContacts,
  kJournal,
  kNotes,
  kTasks,
  kJunk
};

// 24 bytes: four zero flag bytes, the store's record key, the nid.
std::vector<std::uint8_t> MakeEntryId(const ltp::Guid& recordKey, ndb::Nid nid);

class StoreWriter {
 public:
  // Allocates the standard folders. Nothing is written before Close except messages.
  static quill::Result<std::unique_ptr<StoreWriter>> Create(ndb::NodeSink& sink, StoreOptions options = {});

  StoreWriter(const StoreWriter&) = delete;
  StoreWriter& operator=(const StoreWriter&) = delete;

  ndb::Nid ipmSubtree() const { return ipmSubtree_; }
  ndb::Nid deletedItems() const { return deletedItems_; }
  ndb::Nid searchRoot() const { return searchRoot_; }
  const ltp::Guid& recordKey() const { return recordKey_; }
  std::vector<std::uint8_t> EntryIdOf(ndb::Nid nid) const { return MakeEntryId(recordKey_, nid); }
  NameMap& nameMap() { return nameMap_; }

  // Creates a normal folder under `parent` and returns its nid.
  // Errors: NotFound for an unknown parent (or a search folder); InvalidArgument for an empty name;
  // AlreadyExists when the parent has a child of that name already, letter case ignored;
  // NotSupported when the folder would sit deeper than kMaxFolderDepth (pst/folder_depth.h).
  quill::Result<ndb::Nid> CreateFolder(ndb::Nid parent, std::u16string_view name,
                                       std::u16string_view containerClass = u"IPF.Note");

  // The child of `parent` named `name`, letter case ignored, if any.
  std::optional<ndb::Nid> FindFolder(ndb::Nid parent, std::u16string_view name) const;
  std::vector<ndb::Nid> Subfolders(ndb::Nid parent) const;
  // The name `folder` was created with; empty for an unknown folder.
  std::u16string FolderName(ndb::Nid folder) const;

  // Makes `folder` one of the store's default folders: Inbox, Outbox and Sent Items through the
  // store object (entry ids, valid-folder mask bits) and, for the Inbox, the receive-folder rows;
  // Drafts, Calendar, Contacts, Journal, Notes, Tasks and Junk E-mail through entry ids on the
  // root folder and the Inbox, where Outlook looks for them. Errors: NotFound for an unknown folder.
  quill::Status SetSpecialFolder(SpecialFolder which, ndb::Nid folder);

  // Writes `message` into `folder`; returns the message's nid.
  // Errors: NotFound for an unknown folder; those of WriteMessage. A stop (quill::IsStopped)
  // returned by makeAttachment or betweenPieces leaves the message out and the store usable.
  quill::Result<ndb::Nid> AddMessage(ndb::Nid folder, const MessageContent& message);

  // Writes the folders, their tables and every remaining node of the store. The caller then closes
  // the sink. REQUIRES: called once, last.
  quill::Status Close();

 private:
  struct Folder {
    ndb::Nid parent = 0;
    std::u16string name;
    std::u16string containerClass;
    std::vector<ndb::Nid> children;
    std::int32_t count = 0;
    std::int32_t unread = 0;
    std::unique_ptr<ltp::TableContextBuilder> contents;  // made with the first message
  };

  StoreWriter(ndb::NodeSink& sink, StoreOptions options, ltp::Guid recordKey);

  quill::Result<ndb::Nid> NewFolder(ndb::Nid parent, std::u16string_view name,
                                    std::u16string_view containerClass);
  quill::Status WriteFolder(ndb::Nid nid, Folder& folder);
  // The entry ids of the default folders kept on the root folder and the Inbox.
  std::vector<Property> DefaultFolderIds() const;
  quill::Status WriteSpamSearchFolder();
  quill::Status WriteStoreObject();
  quill::Status WriteTemplatesAndQueues();
  quill::Status Fail(quill::Status status);

  ndb::NodeSink* sink_;
  StoreOptions options_;
  ltp::Guid recordKey_;
  std::uint64_t now_;
  std::map<ndb::Nid, Folder> folders_;
  ndb::Nid ipmSubtree_ = 0, deletedItems_ = 0, searchRoot_ = 0;
  std::map<SpecialFolder, ndb::Nid> special_;
  NameMap nameMap_;
  quill::Status failed_;
  bool closed_ = false;
};

}  // namespace pst::messaging
