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
// attachments an attach method (by value, or embedded message for an embedded one), size and
// rendering position.
//
// An attachment's bytes (AttachmentData::kBytes) are stored where the property context keeps any
// value of their size: in its heap when they fit an allocation, else as a stream of their own,
// written in pieces of kAttachmentPiece bytes with the caller's `betweenPieces` called between two
// pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/status.h"
#include "pst/messaging/message_content.h"
#include "pst/ndb/node_sink.h"

namespace pst::messaging {

inline constexpr ndb::Nid kNidRecipientTable = 0x692;
inline constexpr ndb::Nid kNidAttachmentTable = 0x671;
// Readers give up on deeper nesting; a deeper chain is refused rather than written unreadable.
inline constexpr int kMaxEmbeddingDepth = 8;
inline constexpr std::size_t kAttachmentPiece = std::size_t{4} << 20;

// Gives the caller's event loop a turn while a large attachment is written; an error it returns
// (a stop the user asked for) ends the write with it.
using BetweenPieces = std::function<quill::Status()>;

struct WrittenMessage {
  // Cells for the folder's contents table: every contents column the message has a value for,
  // mirrored from the message's property context.
  std::vector<Property> contentsRow;
  bool read = false;
};

// Writes `message` as node `nid` under `folder`. `now` (FILETIME) stands in for missing times.
// Errors: InvalidArgument for a property whose tag and value disagree, messages embedded more
// than kMaxEmbeddingDepth deep or attachment bytes of 4 GiB or more; whatever the sink,
// makeAttachment or `betweenPieces` return. Until the message's own node is entered nothing
// written refers to what came before, so a failure of makeAttachment or `betweenPieces` leaves
// the sink as usable as it was (with some unreferenced blocks).
quill::Result<WrittenMessage> WriteMessage(ndb::NodeSink& sink, ndb::Nid nid, ndb::Nid folder,
                                           const MessageContent& message, std::uint64_t now,
                                           const BetweenPieces& betweenPieces = {});

}  // namespace pst::messaging
