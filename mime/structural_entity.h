// The entities the structural parser (structural_parse.h) builds: header fields and body ranges
// as views into the message bytes, read through GMime's own standalone functions for header
// values, so that every answer equals what GMime's object tree would give. Internal to mime/.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mime/gmime_support.h"
#include "mime/mime_entity.h"

namespace mime {

struct HeaderField {
  std::string_view name;
  std::string_view raw_value;  // From after the colon through the line break that ends the field.
};

// The value as a GMime header gives it: unfolded, then encoded words decoded.
std::string DecodedHeaderValue(std::string_view raw_value);

// The first field called `name` (ASCII case-insensitive), or null.
const HeaderField* FirstField(const std::vector<HeaderField>& fields, std::string_view name);

class StructuralEntity final : public MimeEntity {
 public:
  StructuralEntity(std::vector<HeaderField> fields, EntityKind kind,
                   GObjectPtr<GMimeContentType> content_type)
      : fields_(std::move(fields)), kind_(kind), content_type_(std::move(content_type)) {}
  // A leaf that keeps no parsed header objects: its content type and disposition are parsed again
  // when asked for, into one slot per thread that the next light leaf asked reuses. GMime's
  // objects cost about 500 bytes a part, which for a message of 100,000 small parts is 15 times
  // the message; the walk asks a leaf for them only while at that leaf, so the slot is enough.
  static std::unique_ptr<StructuralEntity> Light(std::vector<HeaderField> fields);

  // Set by the parser.
  void SetContent(std::string_view content, GMimeContentEncoding encoding) {
    content_ = content;
    encoding_ = encoding;
  }
  void AddChild(std::unique_ptr<StructuralEntity> child) { children_.push_back(std::move(child)); }
  void SetEmbedded(std::unique_ptr<MimeMessage> message) { embedded_ = std::move(message); }
  const std::vector<HeaderField>& Fields() const { return fields_; }

  EntityKind Kind() const override { return kind_; }
  GMimeContentType* ContentType() const override;
  GMimeContentDisposition* Disposition() const override;
  std::optional<std::string> ContentId() const override;
  std::optional<std::string> ContentLocation() const override;
  std::optional<std::string> PartFileName() const override;
  std::optional<std::string> RawHeader(const char* name) const override;
  std::string DecodedContent() const override;
  int ChildCount() const override { return static_cast<int>(children_.size()); }
  const MimeEntity* Child(int index) const override { return children_[static_cast<size_t>(index)].get(); }
  std::string Prologue() const override { return {}; }  // The parser accepts no multipart without parts.
  const MimeEntity* SubpartByContentId(const char* content_id) const override;
  const MimeMessage* EmbeddedMessage() const override { return embedded_.get(); }

 private:
  std::vector<HeaderField> fields_;
  EntityKind kind_;
  GObjectPtr<GMimeContentType> content_type_;
  std::string_view content_;
  GMimeContentEncoding encoding_ = GMIME_CONTENT_ENCODING_DEFAULT;
  std::vector<std::unique_ptr<StructuralEntity>> children_;
  std::unique_ptr<MimeMessage> embedded_;
  // Parsed when first asked for.
  mutable bool disposition_read_ = false;
  mutable GObjectPtr<GMimeContentDisposition> disposition_;
  std::uint64_t light_serial_ = 0;  // Non-zero for a light leaf: its key to the per-thread slot.
};

class StructuralMessage final : public MimeMessage {
 public:
  // `fields` are the message's own fields, those not starting "Content-"; `header_section` is
  // the message's header section without the empty line that ends it, `bytes` all of it. Null
  // when an address header holds an error: GMime then keeps the addresses before the error,
  // which its standalone address parser does not give.
  static std::unique_ptr<StructuralMessage> Make(std::vector<HeaderField> fields,
                                                 std::unique_ptr<StructuralEntity> body,
                                                 std::string_view header_section, std::string_view bytes);
  ~StructuralMessage() override;

  std::optional<std::string> Header(const char* name) const override;
  std::optional<std::string> RawHeader(const char* name) const override;
  std::string RawHeaderValues(const char* name) const override;
  InternetAddressList* Addresses(GMimeAddressType type) const override;
  GDateTime* Date() const override;
  std::optional<std::string> MessageId() const override;
  // As GMime writes out the fields it parsed: as they stood, with LF line breaks.
  std::string WrittenHeaders() const override;
  // The bytes as they stand. GMime would write its tree out again, but this is asked for only of
  // messages nested deeper than the structural parser goes.
  std::string WrittenMessage() const override { return std::string(bytes_); }
  const MimeEntity* Body() const override { return body_.get(); }

 private:
  StructuralMessage(std::vector<HeaderField> fields, std::unique_ptr<StructuralEntity> body,
                    std::string_view header_section, std::string_view bytes)
      : fields_(std::move(fields)), body_(std::move(body)), header_section_(header_section), bytes_(bytes) {}
  const HeaderField* LastField(std::string_view name) const;

  std::vector<HeaderField> fields_;
  std::unique_ptr<StructuralEntity> body_;
  std::string_view header_section_;
  std::string_view bytes_;
  static constexpr int kAddressTypes = GMIME_ADDRESS_TYPE_BCC + 1;
  GObjectPtr<InternetAddressList> addresses_[kAddressTypes];  // Null where there is no such header.
  // Parsed when first asked for.
  mutable bool date_read_ = false;
  mutable GDateTime* date_ = nullptr;  // Owned.
};

}  // namespace mime
