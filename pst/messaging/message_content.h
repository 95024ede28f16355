// What a message is made of when it is handed to the store: its own properties, its recipients
// and its attachments (by value, or an embedded message). Values are in stored form (ltp::PropValue).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "common/status.h"
#include "pst/ltp/table_context.h"
#include "pst/ndb/node_sink.h"

namespace pst::messaging {

using Property = ltp::TableCell;  // tag and value

struct MessageContent;

struct RecipientContent {
  // Display name, address type, address, recipient type (1 To, 2 Cc, 3 Bcc), ...
  std::vector<Property> props;
};

struct AttachmentContent {
  // File names, MIME tag, content id, ... (the data itself goes below, not here).
  std::vector<Property> props;
  // The attachment's bytes, either in memory ...
  std::vector<std::uint8_t> data;
  // ... or already streamed through the sink with ltp::StreamWriter (writtenData != 0 wins).
  ndb::Bid writtenData = 0;
  std::uint32_t writtenSize = 0;
  // ... or a whole message (a forwarded mail); it wins over both, and the attachment becomes an
  // embedded-message attachment.
  std::shared_ptr<const MessageContent> embedded;
};

struct MessageContent {
  std::vector<Property> props;
  std::vector<RecipientContent> recipients;
  std::vector<AttachmentContent> attachments;
  // Attachments after `attachments`, made one at a time as the writer comes to them: a message of
  // 100,000 parts would otherwise hold 100,000 property lists at once (about 1 KB each), where
  // this way one is held. makeAttachment is called once for each index from attachments.size()
  // to attachments.size() + laterAttachments - 1, in order; an error ends the write with it.
  std::size_t laterAttachments = 0;
  std::function<quill::Result<AttachmentContent>(std::size_t index)> makeAttachment;

  std::size_t AttachmentCount() const { return attachments.size() + laterAttachments; }
};

}  // namespace pst::messaging
