// The messaging objects of a store, read back: folders with their three tables, messages with
// their recipient and attachment tables, attachments and the messages embedded in them.
//
// Each object keeps the faults that did not stop its read in `issues`; a Status is returned only
// when the object itself cannot be read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/status.h"
#include "pst/read/properties.h"
#include "pst/read/pst_file.h"
#include "pst/read/table_context.h"

namespace pst::read {

namespace prop_id {
inline constexpr std::uint16_t kNameidBucketCount = 0x0001;
inline constexpr std::uint16_t kImportance = 0x0017;
inline constexpr std::uint16_t kMessageClass = 0x001A;
inline constexpr std::uint16_t kSubject = 0x0037;
inline constexpr std::uint16_t kClientSubmitTime = 0x0039;
inline constexpr std::uint16_t kDisplayTo = 0x0E04;
inline constexpr std::uint16_t kDeliveryTime = 0x0E06;
inline constexpr std::uint16_t kMessageFlags = 0x0E07;
inline constexpr std::uint16_t kMessageSize = 0x0E08;
inline constexpr std::uint16_t kAttachSize = 0x0E20;
inline constexpr std::uint16_t kRecordKey = 0x0FF9;
inline constexpr std::uint16_t kDisplayName = 0x3001;
inline constexpr std::uint16_t kCreationTime = 0x3007;
inline constexpr std::uint16_t kLastModificationTime = 0x3008;
inline constexpr std::uint16_t kSearchKey = 0x300B;
inline constexpr std::uint16_t kIpmSubtreeEntryId = 0x35E0;
inline constexpr std::uint16_t kWastebasketEntryId = 0x35E3;
inline constexpr std::uint16_t kFinderEntryId = 0x35E7;
inline constexpr std::uint16_t kContentCount = 0x3602;
inline constexpr std::uint16_t kContentUnread = 0x3603;
inline constexpr std::uint16_t kSubfolders = 0x360A;
inline constexpr std::uint16_t kAttachData = 0x3701;
inline constexpr std::uint16_t kAttachFilename = 0x3704;
inline constexpr std::uint16_t kAttachMethod = 0x3705;
inline constexpr std::uint16_t kAttachLongFilename = 0x3707;
inline constexpr std::uint16_t kRenderingPosition = 0x370B;
}  // namespace prop_id

inline constexpr Nid kNidMessageStore = 0x21;
inline constexpr Nid kNidNameToIdMap = 0x61;
inline constexpr Nid kNidRootFolder = 0x122;
inline constexpr Nid kNidAttachmentTable = 0x671;
inline constexpr Nid kNidRecipientTable = 0x692;
inline constexpr std::int32_t kMessageFlagRead = 0x01;
inline constexpr std::int32_t kMessageFlagHasAttach = 0x10;
inline constexpr std::int32_t kAttachByValue = 1;
inline constexpr std::int32_t kAttachEmbeddedMessage = 5;
inline constexpr std::int32_t kAttachOle = 6;

struct Message;

struct Attachment {
  Nid nid = 0;
  Properties props;
  std::vector<Message> embedded;  // the message an attach-method-5 attachment holds (0 or 1)
  std::vector<std::string> issues;
};

struct Message {
  Nid nid = 0;
  Properties props;
  std::optional<TableContext> recipients;
  std::optional<TableContext> attachment_table;
  std::vector<Attachment> attachments;   // one per attachment-table row that could be read
  std::vector<Nid> attachment_subnodes;  // every attachment-type subnode of the message node
  std::vector<std::string> issues;
};

struct Folder {
  Nid nid = 0;
  Properties props;
  std::string name;
  std::optional<TableContext> hierarchy;
  std::optional<TableContext> contents;
  std::optional<TableContext> assoc_contents;
  std::vector<std::string> issues;
};

// A folder (normal or search) by the nid of its property context. For a normal folder the three
// tables are looked up at the same index; a missing or unreadable table is an issue. A search
// folder's results table is derived data in more than one layout and is not read.
Result<Folder> ReadFolder(const PstFile& file, Nid nid);

// A top-level message by nid.
Result<Message> ReadMessage(const PstFile& file, Nid nid);
// A message from an already loaded node (top-level or embedded). `depth` counts the embedding
// levels so far; beyond a few levels the read stops with Corruption.
Result<Message> ReadMessageNode(const PstFile& file, const Node& node, int depth);

}  // namespace pst::read
