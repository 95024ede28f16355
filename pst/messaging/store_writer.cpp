#include "pst/messaging/store_writer.h"

#include <algorithm>
#include <chrono>
#include <random>

#include "common/cancel.h"
#include "common/case_fold.h"
#include "common/text.h"
#include "pst/folder_depth.h"
#include "pst/ltp/property_context.h"
#include "pst/messaging/message_writer.h"
#include "pst/messaging/prop_tags.h"
#include "pst/messaging/table_templates.h"

namespace pst::messaging {
namespace {

using ltp::PropValue;
using ndb::Nid;
using ndb::NidType;

constexpr Nid kNidHierarchyTemplate = 0x60D;
constexpr Nid kNidContentsTemplate = 0x60E;
constexpr Nid kNidAssocContentsTemplate = 0x60F;
constexpr Nid kNidSearchContentsTemplate = 0x610;
constexpr Nid kNidReceiveFolderTable = 0x62B;
constexpr Nid kNidSearchManagementQueue = 0x1E1;
constexpr Nid kNidSearchActivityList = 0x201;
constexpr Nid kNidSearchGathererFolderQueue = 0x321;

constexpr char16_t kSpamFolderName[] = u"SPAM Search Folder 2";

// {00062008-0000-0000-C000-000000000046}
constexpr ltp::Guid kPsetidCommon = {0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00,
                                     0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::uint32_t kLidCurrentVersionName = 0x8554;

// PidTagValidFolderMask bits.
constexpr std::int32_t kMaskIpmSubtree = 0x01;
constexpr std::int32_t kMaskInbox = 0x02;
constexpr std::int32_t kMaskOutbox = 0x04;
constexpr std::int32_t kMaskWastebasket = 0x08;
constexpr std::int32_t kMaskSentMail = 0x10;
constexpr std::int32_t kMaskFinder = 0x80;

std::uint64_t FileTimeNow() {
  constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return kUnixEpochAsFileTime +
         static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count()) *
             10;
}

ltp::Guid RandomGuid() {
  std::random_device rd;
  ltp::Guid g;
  for (std::size_t i = 0; i < g.size(); i += 4) {
    const std::uint32_t r = rd();
    for (std::size_t k = 0; k < 4; ++k) g[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
  }
  return g;
}

Nid SameIndex(Nid nid, NidType type) { return ndb::MakeNid(type, ndb::NidIndexOf(nid)); }

// The properties a folder shows both in its own property context and in its parent's hierarchy
// row; one list for both keeps the two in step.
std::vector<Property> FolderSummary(std::u16string_view name, std::u16string_view containerClass,
                                    std::int32_t count, std::int32_t unread, bool hasSubfolders) {
  std::vector<Property> props = {{tag::kDisplayName, PropValue::String(name)},
                                 {tag::kContentCount, PropValue::Int32(count)},
                                 {tag::kContentUnreadCount, PropValue::Int32(unread)},
                                 {tag::kSubfolders, PropValue::Bool(hasSubfolders)},
                                 {tag::kPstHiddenCount, PropValue::Int32(0)},
                                 {tag::kPstHiddenUnread, PropValue::Int32(0)}};
  if (!containerClass.empty()) props.emplace_back(tag::kContainerClass, PropValue::String(containerClass));
  return props;
}

quill::Status WritePc(ndb::NodeSink& sink, Nid nid, Nid parent, const std::vector<Property>& props) {
  ltp::PropertyContextBuilder pc(sink);
  for (const Property& p : props) QUILL_RETURN_IF_ERROR(pc.Set(p.first, p.second));
  return pc.WriteTopLevel(nid, parent);
}

quill::Status WriteEmptyTable(ndb::NodeSink& sink, Nid nid, std::span<const ltp::PropTag> columns) {
  QUILL_ASSIGN_OR_RETURN(ltp::TableContextBuilder table, ltp::TableContextBuilder::Create(sink, columns));
  return table.WriteTopLevel(nid, 0);
}

}  // namespace

std::vector<std::uint8_t> MakeEntryId(const ltp::Guid& recordKey, Nid nid) {
  std::vector<std::uint8_t> id(24, 0);
  std::copy(recordKey.begin(), recordKey.end(), id.begin() + 4);
  for (int i = 0; i < 4; ++i) id[20 + i] = static_cast<std::uint8_t>(nid >> (8 * i));
  return id;
}

StoreWriter::StoreWriter(ndb::NodeSink& sink, StoreOptions options, ltp::Guid recordKey)
    : sink_(&sink),
      options_(std::move(options)),
      recordKey_(recordKey),
      now_(options_.now != 0 ? options_.now : FileTimeNow()) {}

quill::Result<std::unique_ptr<StoreWriter>> StoreWriter::Create(ndb::NodeSink& sink, StoreOptions options) {
  const ltp::Guid key = options.recordKey.value_or(RandomGuid());
  std::unique_ptr<StoreWriter> store(new StoreWriter(sink, std::move(options), key));
  Folder& root = store->folders_[kNidRootFolder];
  root.parent = kNidRootFolder;
  // Allocated in this order the standard folders get the nids Outlook gives them (0x8022, 0x8042,
  // 0x8062) from a fresh sink.
  QUILL_ASSIGN_OR_RETURN(Nid ipm, store->NewFolder(kNidRootFolder, u"Top of Personal Folders", u""));
  QUILL_ASSIGN_OR_RETURN(Nid search, store->NewFolder(kNidRootFolder, u"Search Root", u""));
  QUILL_ASSIGN_OR_RETURN(Nid deleted, store->NewFolder(ipm, u"Deleted Items", u"IPF.Note"));
  store->ipmSubtree_ = ipm;
  store->searchRoot_ = search;
  store->deletedItems_ = deleted;
  store->folders_[kNidRootFolder].children.push_back(kNidSpamSearchFolder);
  // Readers refuse a name-to-id map with an empty entry or string stream (libpff the first,
  // pst-extractor the second), and Outlook's own maps are never empty: start with two names every
  // Outlook store has, PidLidCurrentVersionName (PSETID_Common) and "Keywords" (the categories).
  for (quill::Result<std::uint16_t> seeded : {store->nameMap_.IdFor(kPsetidCommon, kLidCurrentVersionName),
                                              store->nameMap_.IdFor(kPsPublicStrings, u"Keywords")}) {
    if (!seeded.ok()) return seeded.status();
  }
  return store;
}

quill::Status StoreWriter::Fail(quill::Status status) {
  // A stop comes from the caller between two writes, never from the sink: the message cut short
  // was not yet entered anywhere, and what it wrote is merely unreferenced.
  if (quill::IsStopped(status)) return status;
  if (status.code() != quill::Status::Code::kInvalidArgument &&
      status.code() != quill::Status::Code::kNotFound) {
    failed_ = status;
  }
  return status;
}

quill::Result<Nid> StoreWriter::NewFolder(Nid parent, std::u16string_view name,
                                          std::u16string_view containerClass) {
  const Nid nid = sink_->AllocateNid(NidType::kNormalFolder);
  Folder folder;
  folder.parent = parent;
  folder.name = std::u16string(name);
  folder.containerClass = std::u16string(containerClass);
  folders_.emplace(nid, std::move(folder));
  folders_[parent].children.push_back(nid);
  return nid;
}

quill::Result<Nid> StoreWriter::CreateFolder(Nid parent, std::u16string_view name,
                                             std::u16string_view containerClass) {
  if (!failed_.ok()) return failed_;
  if (closed_) return quill::Status::InvalidArgument("store already closed");
  if (!folders_.count(parent)) return quill::Status::NotFound("no folder " + std::to_string(parent));
  if (name.empty()) return quill::Status::InvalidArgument("folder name is empty");
  if (FindFolder(parent, name))
    return quill::Status::AlreadyExists("folder exists: " + quill::Utf16ToUtf8(name));
  // The new folder's level is its parent's steps from the root folder (see folder_depth.h).
  int level = 0;
  for (Nid at = parent; at != kNidRootFolder; at = folders_.at(at).parent) ++level;
  if (level > kMaxFolderDepth) {
    return quill::Status::NotSupported("the folder tree is deeper than " + std::to_string(kMaxFolderDepth) +
                                       " levels");
  }
  return NewFolder(parent, name, containerClass);
}

std::optional<Nid> StoreWriter::FindFolder(Nid parent, std::u16string_view name) const {
  auto it = folders_.find(parent);
  if (it == folders_.end()) return std::nullopt;
  for (Nid child : it->second.children) {
    auto c = folders_.find(child);
    if (c != folders_.end() && quill::EqualIgnoringCase(c->second.name, name)) return child;
  }
  return std::nullopt;
}

std::u16string StoreWriter::FolderName(Nid folder) const {
  auto it = folders_.find(folder);
  return it == folders_.end() ? std::u16string() : it->second.name;
}

std::vector<Nid> StoreWriter::Subfolders(Nid parent) const {
  auto it = folders_.find(parent);
  return it == folders_.end() ? std::vector<Nid>{} : it->second.children;
}

quill::Status StoreWriter::SetSpecialFolder(SpecialFolder which, Nid folder) {
  if (!folders_.count(folder) || folder == kNidRootFolder)
    return quill::Status::NotFound("no folder " + std::to_string(folder));
  special_[which] = folder;
  return quill::Status::Ok();
}

quill::Result<Nid> StoreWriter::AddMessage(Nid folderNid, const MessageContent& message) {
  if (!failed_.ok()) return failed_;
  if (closed_) return quill::Status::InvalidArgument("store already closed");
  auto it = folders_.find(folderNid);
  if (it == folders_.end()) return quill::Status::NotFound("no folder " + std::to_string(folderNid));
  Folder& folder = it->second;
  if (!folder.contents) {
    quill::Result<ltp::TableContextBuilder> table =
        ltp::TableContextBuilder::Create(*sink_, ContentsColumns());
    if (!table.ok()) return Fail(table.status());
    folder.contents = std::make_unique<ltp::TableContextBuilder>(std::move(*table));
  }
  const Nid nid = sink_->AllocateNid(NidType::kNormalMessage);
  quill::Result<WrittenMessage> written =
      WriteMessage(*sink_, nid, folderNid, message, now_, options_.betweenPieces);
  if (!written.ok()) return Fail(written.status());
  if (quill::Status s = folder.contents->AddRow(nid, written->contentsRow); !s.ok()) return Fail(s);
  ++folder.count;
  if (!written->read) ++folder.unread;
  return nid;
}

std::vector<Property> StoreWriter::DefaultFolderIds() const {
  using ltp::MakeTag;
  using ltp::PropType;
  std::vector<Property> props;
  const std::pair<SpecialFolder, std::uint16_t> single[] = {
      {SpecialFolder::kCalendar, 0x36D0}, {SpecialFolder::kContacts, 0x36D1},
      {SpecialFolder::kJournal, 0x36D2},  {SpecialFolder::kNotes, 0x36D3},
      {SpecialFolder::kTasks, 0x36D4},    {SpecialFolder::kDrafts, 0x36D7}};
  for (const auto& [which, id] : single) {
    if (auto it = special_.find(which); it != special_.end()) {
      props.emplace_back(MakeTag(id, PropType::kBinary), PropValue::Binary(EntryIdOf(it->second)));
    }
  }
  // PidTagAdditionalRenEntryIds: Conflicts, Sync Issues, Local Failures, Server Failures, then Junk
  // E-mail; a store of our own has only the last, the others stay empty.
  if (auto it = special_.find(SpecialFolder::kJunk); it != special_.end()) {
    const std::vector<std::vector<std::uint8_t>> ids = {{}, {}, {}, {}, EntryIdOf(it->second)};
    props.emplace_back(MakeTag(0x36D8, PropType::kMultipleBinary), PropValue::MultipleBinary(ids));
  }
  return props;
}

quill::Status StoreWriter::WriteFolder(Nid nid, Folder& folder) {
  std::vector<Property> summary = FolderSummary(folder.name, folder.containerClass, folder.count,
                                                folder.unread, !folder.children.empty());
  const auto inbox = special_.find(SpecialFolder::kInbox);
  if (nid == kNidRootFolder || (inbox != special_.end() && inbox->second == nid)) {
    for (Property& p : DefaultFolderIds()) summary.push_back(std::move(p));
  }
  QUILL_RETURN_IF_ERROR(WritePc(*sink_, nid, folder.parent, summary));

  QUILL_ASSIGN_OR_RETURN(ltp::TableContextBuilder hierarchy,
                         ltp::TableContextBuilder::Create(*sink_, HierarchyColumns()));
  for (Nid childNid : folder.children) {
    std::vector<Property> row;
    if (childNid == kNidSpamSearchFolder) {
      row = FolderSummary(kSpamFolderName, u"", 0, 0, false);
    } else {
      const Folder& child = folders_.at(childNid);
      row =
          FolderSummary(child.name, child.containerClass, child.count, child.unread, !child.children.empty());
    }
    QUILL_RETURN_IF_ERROR(hierarchy.AddRow(childNid, row));
  }
  QUILL_RETURN_IF_ERROR(hierarchy.WriteTopLevel(SameIndex(nid, NidType::kHierarchyTable), 0));

  if (folder.contents) {
    QUILL_RETURN_IF_ERROR(folder.contents->WriteTopLevel(SameIndex(nid, NidType::kContentsTable), 0));
    folder.contents.reset();
  } else {
    QUILL_RETURN_IF_ERROR(
        WriteEmptyTable(*sink_, SameIndex(nid, NidType::kContentsTable), ContentsColumns()));
  }
  return WriteEmptyTable(*sink_, SameIndex(nid, NidType::kAssocContentsTable), AssocContentsColumns());
}

quill::Status StoreWriter::WriteSpamSearchFolder() {
  const Nid nid = kNidSpamSearchFolder;
  QUILL_RETURN_IF_ERROR(
      WritePc(*sink_, nid, kNidRootFolder, FolderSummary(kSpamFolderName, u"", 0, 0, false)));
  // Its update queue is empty, its criteria are Outlook's to fill in, and it has found nothing yet.
  QUILL_RETURN_IF_ERROR(sink_->AddNode(SameIndex(nid, NidType::kSearchUpdateQueue), 0, 0, 0));
  QUILL_RETURN_IF_ERROR(WritePc(*sink_, SameIndex(nid, NidType::kSearchCriteriaObject), 0, {}));
  QUILL_RETURN_IF_ERROR(
      WriteEmptyTable(*sink_, SameIndex(nid, NidType::kSearchContentsTable), SearchContentsColumns()));
  // Outlook leaves out the folder tables of this folder, but readers that list any folder's
  // subfolders and contents (pst-extractor) fail without them; empty ones cost a few blocks.
  QUILL_RETURN_IF_ERROR(
      WriteEmptyTable(*sink_, SameIndex(nid, NidType::kHierarchyTable), HierarchyColumns()));
  QUILL_RETURN_IF_ERROR(WriteEmptyTable(*sink_, SameIndex(nid, NidType::kContentsTable), ContentsColumns()));
  return WriteEmptyTable(*sink_, SameIndex(nid, NidType::kAssocContentsTable), AssocContentsColumns());
}

quill::Status StoreWriter::WriteStoreObject() {
  std::int32_t mask = kMaskIpmSubtree | kMaskWastebasket | kMaskFinder;
  std::vector<Property> props = {
      {tag::kRecordKey, PropValue::Binary(std::span<const std::uint8_t>(recordKey_))},
      {tag::kDisplayName, PropValue::String(options_.displayName)},
      {tag::kIpmSubtreeEntryId, PropValue::Binary(EntryIdOf(ipmSubtree_))},
      {tag::kIpmWastebasketEntryId, PropValue::Binary(EntryIdOf(deletedItems_))},
      {tag::kFinderEntryId, PropValue::Binary(EntryIdOf(searchRoot_))},
      {tag::kReplFlags, PropValue::Int32(0)},
      {tag::kPstPassword, PropValue::Int32(0)}};
  if (auto it = special_.find(SpecialFolder::kInbox); it != special_.end()) mask |= kMaskInbox;
  if (auto it = special_.find(SpecialFolder::kOutbox); it != special_.end()) {
    mask |= kMaskOutbox;
    props.emplace_back(tag::kIpmOutboxEntryId, PropValue::Binary(EntryIdOf(it->second)));
  }
  if (auto it = special_.find(SpecialFolder::kSentItems); it != special_.end()) {
    mask |= kMaskSentMail;
    props.emplace_back(tag::kIpmSentMailEntryId, PropValue::Binary(EntryIdOf(it->second)));
  }
  props.emplace_back(tag::kValidFolderMask, PropValue::Int32(mask));
  return WritePc(*sink_, kNidMessageStore, 0, props);
}

quill::Status StoreWriter::WriteTemplatesAndQueues() {
  QUILL_RETURN_IF_ERROR(WriteEmptyTable(*sink_, kNidHierarchyTemplate, HierarchyColumns()));
  QUILL_RETURN_IF_ERROR(WriteEmptyTable(*sink_, kNidContentsTemplate, ContentsColumns()));
  QUILL_RETURN_IF_ERROR(WriteEmptyTable(*sink_, kNidAssocContentsTemplate, AssocContentsColumns()));
  QUILL_RETURN_IF_ERROR(WriteEmptyTable(*sink_, kNidSearchContentsTemplate, SearchContentsColumns()));
  QUILL_RETURN_IF_ERROR(WriteEmptyTable(*sink_, kNidAttachmentTable, AttachmentColumns()));
  QUILL_RETURN_IF_ERROR(WriteEmptyTable(*sink_, kNidRecipientTable, RecipientColumns()));

  // Where new mail of each class goes: without an Inbox everything goes to the root, as in a new
  // Outlook store; with one, ordinary and report mail go to the Inbox.
  QUILL_ASSIGN_OR_RETURN(ltp::TableContextBuilder receive,
                         ltp::TableContextBuilder::Create(*sink_, ReceiveFolderColumns()));
  std::vector<std::pair<std::u16string, Nid>> rows = {{u"", kNidRootFolder}};
  if (auto it = special_.find(SpecialFolder::kInbox); it != special_.end()) {
    rows = {{u"", it->second}, {u"IPC", kNidRootFolder}, {u"IPM", it->second}, {u"REPORT.IPM", it->second}};
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::vector<Property> cells = {
        {tag::kReceiveFolderNid, PropValue::Int32(static_cast<std::int32_t>(rows[i].second))},
        {tag::kMessageClass, PropValue::String(rows[i].first)}};
    QUILL_RETURN_IF_ERROR(receive.AddRow(static_cast<std::uint32_t>(i + 1), cells));
  }
  QUILL_RETURN_IF_ERROR(receive.WriteTopLevel(kNidReceiveFolderTable, 0));

  QUILL_RETURN_IF_ERROR(sink_->AddNode(kNidSearchManagementQueue, 0, 0, 0));
  QUILL_RETURN_IF_ERROR(sink_->AddNode(kNidSearchGathererFolderQueue, 0, 0, 0));
  // The search folders with pending activity: the spam folder, as in a new Outlook store.
  const std::uint8_t activity[4] = {kNidSpamSearchFolder & 0xFF, (kNidSpamSearchFolder >> 8) & 0xFF, 0, 0};
  QUILL_ASSIGN_OR_RETURN(ndb::Bid bid, sink_->WriteDataBlock(activity));
  return sink_->AddNode(kNidSearchActivityList, bid, 0, 0);
}

quill::Status StoreWriter::Close() {
  if (!failed_.ok()) return failed_;
  if (closed_) return quill::Status::InvalidArgument("store already closed");
  closed_ = true;
  for (auto& [nid, folder] : folders_) {
    if (quill::Status s = WriteFolder(nid, folder); !s.ok()) return Fail(s);
  }
  for (quill::Status s :
       {WriteSpamSearchFolder(), WriteStoreObject(), nameMap_.Write(*sink_), WriteTemplatesAndQueues()}) {
    if (!s.ok()) return Fail(s);
  }
  return quill::Status::Ok();
}

}  // namespace pst::messaging
