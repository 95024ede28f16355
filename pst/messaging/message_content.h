// What a message is made of when it is handed to the store: its own properties, its recipients
// and its attachments (their properties and their data). Values are in stored form (ltp::PropValue).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <variant>
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

// What an attachment holds, one of three kinds; the message writer decides how each is stored.
//   kBytes     bytes in memory, owned or borrowed (borrowed ones must stay alive and unchanged
//              until the message is written: a store that writes straight from the parsed file
//              makes no copy of a 200 MB attachment)
//   kWritten   a stream the caller already wrote through the sink with ltp::StreamWriter
//   kEmbedded  a whole message (a forwarded mail): the attachment becomes an embedded message
// The default is no bytes.
class AttachmentData {
 public:
  enum class Kind { kBytes, kWritten, kEmbedded };
  struct Written {
    ndb::Bid top = 0;  // 0 for an empty stream
    std::uint32_t size = 0;
  };

  AttachmentData() = default;
  static AttachmentData Bytes(std::vector<std::uint8_t> bytes) { return AttachmentData(std::move(bytes)); }
  static AttachmentData BorrowedBytes(std::span<const std::uint8_t> bytes) { return AttachmentData(bytes); }
  static AttachmentData WrittenStream(ndb::Bid top, std::uint32_t size) {
    return AttachmentData(Written{top, size});
  }
  static AttachmentData Embedded(std::shared_ptr<const MessageContent> message) {
    return AttachmentData(std::move(message));
  }

  Kind kind() const {
    if (std::holds_alternative<Written>(value_)) return Kind::kWritten;
    if (std::holds_alternative<std::shared_ptr<const MessageContent>>(value_)) return Kind::kEmbedded;
    return Kind::kBytes;
  }
  // The bytes of kBytes; empty for the other kinds.
  std::span<const std::uint8_t> bytes() const {
    if (const auto* owned = std::get_if<std::vector<std::uint8_t>>(&value_)) return *owned;
    if (const auto* borrowed = std::get_if<std::span<const std::uint8_t>>(&value_)) return *borrowed;
    return {};
  }
  // The stream of kWritten; {0, 0} for the other kinds.
  Written written() const {
    const Written* w = std::get_if<Written>(&value_);
    return w != nullptr ? *w : Written{};
  }
  // The message of kEmbedded; null for the other kinds.
  const MessageContent* embedded() const {
    const auto* m = std::get_if<std::shared_ptr<const MessageContent>>(&value_);
    return m != nullptr ? m->get() : nullptr;
  }

 private:
  using Value = std::variant<std::vector<std::uint8_t>, std::span<const std::uint8_t>, Written,
                             std::shared_ptr<const MessageContent>>;
  template <typename T>
  explicit AttachmentData(T value) : value_(std::move(value)) {}

  Value value_;
};

struct AttachmentContent {
  // File names, MIME tag, content id, ...; the writer sets the attach method from `data`.
  std::vector<Property> props;
  AttachmentData data;
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
