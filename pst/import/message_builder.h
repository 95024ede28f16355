// BuildMessage: one parsed mail message (mime::ParsedMessage) mapped onto the properties,
// recipient rows and attachments of a PST message (messaging::MessageContent), the way Outlook
// stores a received Internet message.
//
//   ImportOptions options;
//   options.fileModified = ...;  options.now = ...;  options.nameMap = &store->nameMap();
//   ImportedMessage m = BuildMessage(content, options);
//   store->AddMessage(inbox, m.message);
//
// Mapping never fails: whatever the parser gave is stored, and what is missing is left out or
// filled from the options (times). The result owns all of its data.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "common/status.h"
#include "mime/parsed_message.h"
#include "pst/messaging/message_content.h"
#include "pst/messaging/name_map.h"

namespace pst::import {

struct ImportOptions {
  // The mail file's modification time: the delivery and submit time of a message whose headers
  // give neither a Received nor a Date time.
  std::chrono::sys_seconds fileModified{};
  // The import's own time: creation and last-modification time of the stored message.
  std::chrono::sys_seconds now{};
  // The store's named-property map, for the few named properties Outlook reads (whether the
  // attachments are all hidden). Borrowed; may be null, and then no named property is written.
  messaging::NameMap* nameMap = nullptr;
  // The ids of those named properties, resolved beforehand (see DetachNameMap); used when
  // nameMap is null.
  std::optional<std::uint16_t> smartNoAttachId;
  std::optional<std::uint16_t> flagRequestId;  // the same for the follow-up flag's text
  std::optional<std::uint16_t> contentTypeId;  // and for an opaque S/MIME message's Content-Type
  // Set when the parsed message outlives the write of the built one (a store writing straight
  // from the parse): the attachments' bytes, those of enclosed messages too, are then borrowed
  // from it (messaging::AttachmentData::BorrowedBytes) instead of copied.
  bool borrowAttachmentData = false;
  // How many of the message's own attachments BuildMessage builds; the caller makes those past it
  // with BuildAttachment when it writes them (see messaging::MessageContent::laterAttachments).
  // Everything that depends on all attachments (the hidden-attachment flag) still counts them all.
  std::size_t attachmentsBuilt = SIZE_MAX;
  // Set for a message enclosed in another: its headers' read or answered state belongs to
  // whoever sent it on, so none is taken over.
  bool enclosed = false;
};

// A message/rfc822 attachment carries the enclosed message, built the same way, as its data
// (messaging::AttachmentData::Embedded); writing it as the attachment's object is the store's part.
struct ImportedMessage {
  messaging::MessageContent message;
};

ImportedMessage BuildMessage(const mime::ParsedMessage& content, const ImportOptions& options);

// Attachment `index` (from 0) of `content` as BuildMessage builds it.
messaging::AttachmentContent BuildAttachment(const mime::ParsedMessage& content, std::size_t index,
                                             const ImportOptions& options);

// Resolves through options.nameMap every named property id BuildMessage may need, then clears
// nameMap: the options can then build messages on other threads while the map is in use on this
// one. Errors: those of NameMap::IdFor.
quill::Status DetachNameMap(ImportOptions& options);

// 100-ns ticks since 1601-01-01 UTC; times before 1601 become 0.
std::uint64_t ToFileTime(std::chrono::sys_seconds time);

}  // namespace pst::import
