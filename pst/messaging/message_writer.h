// WriteMessage: one message as a top-level node of a folder.
//
//   message node (type NORMAL_MESSAGE, parent = folder)
//     data: property context of the message
//     subnodes: 0x692 recipient table (always, possibly without rows)
//               0x671 attachment table (only with attachments)
//               one attachment property context per attachment (type ATTACHMENT); an
//                 embedded message is a subnode of its attachment, laid out like this node
//               values too large for the heaps (type LTP)
//
// Properties a reader or Outlook insists on are filled in when the caller left them out: message
// class "IPM.Note", flags, size, status, creation and modification times, search key. The
// has-attachments flag is made to agree with the attachments actually written, whatever the
// caller passed. Recipients get a type (To), object type (mail user) and display type when missing;
// attachments an attach method (by value), size and rendering position.
#pragma once

#include <cstdint>
#include <vector>

#include "common/status.h"
#include "pst/messaging/message_content.h"
#include "pst/ndb/node_sink.h"

namespace pst::messaging {

inline constexpr ndb::Nid kNidRecipientTable = 0x692;
inline constexpr ndb::Nid kNidAttachmentTable = 0x671;
// Readers give up on deeper nesting; a deeper chain is refused rather than written unreadable.
inline constexpr int kMaxEmbeddingDepth = 8;

struct WrittenMessage {
  // Cells for the folder's contents table: every contents column the message has a value for,
  // mirrored from the message's property context.
  std::vector<Property> contentsRow;
  bool read = false;
};

// Writes `message` as node `nid` under `folder`. `now` (FILETIME) stands in for missing times.
// Errors: InvalidArgument for a property whose tag and value disagree or messages embedded more
// than kMaxEmbeddingDepth deep; whatever the sink returns.
quill::Result<WrittenMessage> WriteMessage(ndb::NodeSink& sink, ndb::Nid nid, ndb::Nid folder,
                                           const MessageContent& message, std::uint64_t now);

}  // namespace pst::messaging
