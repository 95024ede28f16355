// What the content builder reads of a parsed message, whoever parsed it: GMime's object tree
// (gmime_entity.h) or the light tree of the structural parser (structural_parse.h). Internal to
// mime/.
//
// Header semantics are GMime's in both: values come back exactly as GMime's objects report them,
// and content types, dispositions and address lists are GMime's own value objects.
#pragma once

#include <gmime/gmime.h>

#include <optional>
#include <string>
#include <string_view>

namespace mime {

class MimeMessage;

enum class EntityKind { kMultipart, kMessagePart, kLeaf, kOther };

// One MIME entity: a multipart, a message/rfc822 part or a leaf. Entities are owned by their
// message and keep their address for its lifetime, so they can be compared by pointer.
class MimeEntity {
 public:
  virtual ~MimeEntity() = default;

  virtual EntityKind Kind() const = 0;
  // Borrowed; null only when the parser gave the entity no type at all.
  virtual GMimeContentType* ContentType() const = 0;
  // Borrowed; null when there is no Content-Disposition.
  virtual GMimeContentDisposition* Disposition() const = 0;
  // Without angle brackets, as g_mime_object_get_content_id gives it.
  virtual std::optional<std::string> ContentId() const = 0;
  // Decoded, as g_mime_part_get_content_location gives it. Leaves only.
  virtual std::optional<std::string> ContentLocation() const = 0;
  // As g_mime_part_get_filename gives it. Leaves only.
  virtual std::optional<std::string> PartFileName() const = 0;
  // The raw (folded, undecoded) value of the first header called `name`.
  virtual std::optional<std::string> RawHeader(const char* name) const = 0;
  // The leaf's bytes after transfer decoding.
  virtual std::string DecodedContent() const = 0;

  // Multiparts only.
  virtual int ChildCount() const = 0;
  virtual const MimeEntity* Child(int index) const = 0;
  virtual std::string Prologue() const = 0;
  // As g_mime_multipart_get_subpart_from_content_id finds it: this entity or one below it.
  virtual const MimeEntity* SubpartByContentId(const char* content_id) const = 0;

  // Message parts only; null when the part holds no message.
  virtual const MimeMessage* EmbeddedMessage() const = 0;
};

// The message: its own header fields and its top-level entity.
class MimeMessage {
 public:
  virtual ~MimeMessage() = default;

  // The first header called `name`, unfolded and decoded as g_mime_object_get_header gives it.
  virtual std::optional<std::string> Header(const char* name) const = 0;
  virtual std::optional<std::string> RawHeader(const char* name) const = 0;
  // The raw values of every header called `name`, joined by ','.
  virtual std::string RawHeaderValues(const char* name) const = 0;
  // Borrowed; null or empty when there is no such header.
  virtual InternetAddressList* Addresses(GMimeAddressType type) const = 0;
  // Borrowed; null when there is no Date header or it does not parse.
  virtual GDateTime* Date() const = 0;
  // Without angle brackets, as g_mime_message_get_message_id gives it.
  virtual std::optional<std::string> MessageId() const = 0;
  // The header section written out again, for a message whose raw section is not at hand.
  virtual std::string WrittenHeaders() const = 0;
  // The whole message written out again.
  virtual std::string WrittenMessage() const = 0;
  // Borrowed; null when the message has no body entity.
  virtual const MimeEntity* Body() const = 0;
};

}  // namespace mime
