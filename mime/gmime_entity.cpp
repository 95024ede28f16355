#include "mime/gmime_entity.h"

#include <string>
#include <vector>

#include "mime/gmime_support.h"
#include "mime/mail_date.h"
#include "mime/part_data.h"

namespace mime {
namespace {

std::optional<std::string> Copy(const char* s) {
  if (s == nullptr) return std::nullopt;
  return std::string(s);
}

const char* FirstRawValue(GMimeObject* object, const char* name) {
  GMimeHeaderList* headers = g_mime_object_get_header_list(object);  // Borrowed.
  GMimeHeader* header = headers ? g_mime_header_list_get_header(headers, name) : nullptr;
  return header ? g_mime_header_get_raw_value(header) : nullptr;
}

class GMimeEntity final : public MimeEntity {
 public:
  explicit GMimeEntity(GMimeObject* object) : object_(object) {
    if (GMIME_IS_MULTIPART(object)) {
      GMimeMultipart* multipart = GMIME_MULTIPART(object);
      const int count = g_mime_multipart_get_count(multipart);
      children_.reserve(static_cast<size_t>(count));
      for (int i = 0; i < count; ++i)
        children_.push_back(std::make_unique<GMimeEntity>(g_mime_multipart_get_part(multipart, i)));
    } else if (GMIME_IS_MESSAGE_PART(object)) {
      if (GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object))) {
        embedded_ = ViewOfGMimeMessage(inner);
      }
    } else if (GMIME_IS_PART(object)) {
      if (const char* raw = FirstRawValue(object, "Content-Type"))
        bare_text_type_.reset(TextTypeOfBareText(raw));
    }
  }

  EntityKind Kind() const override {
    if (GMIME_IS_MULTIPART(object_)) return EntityKind::kMultipart;
    if (GMIME_IS_MESSAGE_PART(object_)) return EntityKind::kMessagePart;
    if (GMIME_IS_PART(object_)) return EntityKind::kLeaf;
    return EntityKind::kOther;
  }
  GMimeContentType* ContentType() const override {
    return bare_text_type_ ? bare_text_type_.get() : g_mime_object_get_content_type(object_);
  }
  GMimeContentDisposition* Disposition() const override {
    return g_mime_object_get_content_disposition(object_);
  }
  std::optional<std::string> ContentId() const override {
    return Copy(g_mime_object_get_content_id(object_));
  }
  std::optional<std::string> ContentLocation() const override {
    return GMIME_IS_PART(object_) ? Copy(g_mime_part_get_content_location(GMIME_PART(object_)))
                                  : std::nullopt;
  }
  std::optional<std::string> PartFileName() const override {
    return GMIME_IS_PART(object_) ? Copy(g_mime_part_get_filename(GMIME_PART(object_))) : std::nullopt;
  }
  std::optional<std::string> RawHeader(const char* name) const override {
    return Copy(FirstRawValue(object_, name));
  }
  std::string DecodedContent() const override {
    return GMIME_IS_PART(object_) ? mime::DecodedContent(GMIME_PART(object_)) : std::string();
  }

  int ChildCount() const override { return static_cast<int>(children_.size()); }
  const MimeEntity* Child(int index) const override { return children_[static_cast<size_t>(index)].get(); }
  std::string Prologue() const override {
    const char* prologue =
        GMIME_IS_MULTIPART(object_) ? g_mime_multipart_get_prologue(GMIME_MULTIPART(object_)) : nullptr;
    return prologue != nullptr ? prologue : "";
  }
  const MimeEntity* SubpartByContentId(const char* content_id) const override {
    if (!GMIME_IS_MULTIPART(object_)) return nullptr;
    GMimeObject* found = g_mime_multipart_get_subpart_from_content_id(GMIME_MULTIPART(object_), content_id);
    return found != nullptr ? Find(found) : nullptr;
  }
  const MimeMessage* EmbeddedMessage() const override { return embedded_.get(); }

 private:
  // The view of `object` in this subtree.
  const GMimeEntity* Find(GMimeObject* object) const {
    if (object == object_) return this;
    for (const auto& child : children_) {
      if (const GMimeEntity* found = child->Find(object)) return found;
    }
    return nullptr;
  }

  GMimeObject* const object_;  // Borrowed.
  std::vector<std::unique_ptr<GMimeEntity>> children_;
  std::unique_ptr<MimeMessage> embedded_;
  GObjectPtr<GMimeContentType> bare_text_type_;  // Set when the header says "text" alone.
};

class GMimeMessageView final : public MimeMessage {
 public:
  explicit GMimeMessageView(GMimeMessage* message) : message_(message) {
    if (GMimeObject* part = g_mime_message_get_mime_part(message))
      body_ = std::make_unique<GMimeEntity>(part);
  }
  ~GMimeMessageView() override {
    if (date_ != nullptr) g_date_time_unref(date_);
  }

  std::optional<std::string> Header(const char* name) const override {
    return Copy(g_mime_object_get_header(GMIME_OBJECT(message_), name));
  }
  std::optional<std::string> RawHeader(const char* name) const override {
    return Copy(FirstRawValue(GMIME_OBJECT(message_), name));
  }
  std::string RawHeaderValues(const char* name) const override {
    std::string joined;
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message_));  // Borrowed.
    const int count = headers ? g_mime_header_list_get_count(headers) : 0;
    for (int i = 0; i < count; ++i) {
      GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);  // Borrowed.
      if (g_ascii_strcasecmp(g_mime_header_get_name(header), name) != 0) continue;
      if (const char* raw = g_mime_header_get_raw_value(header)) {
        if (!joined.empty()) joined += ',';
        joined += raw;
      }
    }
    return joined;
  }
  InternetAddressList* Addresses(GMimeAddressType type) const override {
    return g_mime_message_get_addresses(message_, type);
  }
  // GMime's own date misreads forms real mail holds, so the last Date header is read again.
  GDateTime* Date() const override {
    if (!date_read_) {
      date_read_ = true;
      GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message_));  // Borrowed.
      for (int i = headers ? g_mime_header_list_get_count(headers) - 1 : -1; i >= 0; --i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);  // Borrowed.
        if (g_ascii_strcasecmp(g_mime_header_get_name(header), "Date") != 0) continue;
        if (const char* value = g_mime_header_get_value(header)) date_ = ParseMailDate(value);
        break;
      }
    }
    return date_;
  }
  std::optional<std::string> MessageId() const override {
    return Copy(g_mime_message_get_message_id(message_));
  }
  std::string WrittenHeaders() const override {
    GCharPtr text{g_mime_object_get_headers(GMIME_OBJECT(message_), nullptr)};
    return text ? std::string(text.get()) : std::string();
  }
  std::string WrittenMessage() const override {
    GObjectPtr<GMimeStream> sink(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(GMIME_OBJECT(message_), nullptr, sink.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(sink.get()));  // Borrowed.
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
  }
  const MimeEntity* Body() const override { return body_.get(); }

 private:
  GMimeMessage* const message_;  // Borrowed.
  std::unique_ptr<GMimeEntity> body_;
  mutable bool date_read_ = false;
  mutable GDateTime* date_ = nullptr;  // Owned.
};

}  // namespace

std::unique_ptr<MimeMessage> ViewOfGMimeMessage(GMimeMessage* message) {
  return std::make_unique<GMimeMessageView>(message);
}

}  // namespace mime
