// What a message is made of when it is handed to the store: its own properties, its recipients
// and its attachments (by value, or an embedded message). Values are in stored form (ltp::PropValue).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

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
};

}  // namespace pst::messaging
