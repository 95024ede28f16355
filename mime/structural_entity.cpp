#include "mime/structural_entity.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "mime/mail_date.h"
#include "mime/part_data.h"
#include "mime/strings.h"

namespace mime {
namespace {

std::optional<std::string> TakeGString(char* s) {
  GCharPtr owned(s);
  if (!owned) return std::nullopt;
  return std::string(owned.get());
}

// The address header each GMimeAddressType reads, in the order of that enum.
constexpr const char* kAddressHeaders[] = {"Sender", "From", "Reply-To", "To", "Cc", "Bcc"};

}  // namespace

std::string DecodedHeaderValue(std::string_view raw_value) {
  // Without encoded words or 8-bit bytes GMime's decoding changes nothing, and its unfolding
  // trims white space at both ends and drops CR and LF; done here it costs no allocations.
  const bool plain =
      raw_value.find("=?") == std::string_view::npos &&
      std::all_of(raw_value.begin(), raw_value.end(), [](char c) { return c > 0 && c < 0x7F; });
  if (plain) {
    auto lwsp = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t b = 0, e = raw_value.size();
    while (b < e && lwsp(raw_value[b])) ++b;
    while (e > b && lwsp(raw_value[e - 1])) --e;
    std::string out;
    out.reserve(e - b);
    for (char c : raw_value.substr(b, e - b)) {
      if (c != '\r' && c != '\n') out += c;
    }
    return out;
  }
  const std::string raw(raw_value);
  GCharPtr unfolded(g_mime_utils_header_unfold(raw.c_str()));
  GCharPtr decoded(g_mime_utils_header_decode_text(SharedParserOptions(), unfolded.get()));
  return decoded ? std::string(decoded.get()) : std::string();
}

const HeaderField* FirstField(const std::vector<HeaderField>& fields, std::string_view name) {
  for (const HeaderField& f : fields) {
    if (AsciiIEquals(f.name, name)) return &f;
  }
  return nullptr;
}

// Each of these reads its header as GMime's objects do when the parser hands them the field.

namespace {

// The content type the parser gives a leaf.
GObjectPtr<GMimeContentType> ParseLeafType(const std::vector<HeaderField>& fields) {
  if (const HeaderField* f = FirstField(fields, "Content-Type")) {
    return GObjectPtr<GMimeContentType>(
        g_mime_content_type_parse(SharedParserOptions(), DecodedHeaderValue(f->raw_value).c_str()));
  }
  return GObjectPtr<GMimeContentType>(g_mime_content_type_new("text", "plain"));
}

GObjectPtr<GMimeContentDisposition> ParseDisposition(const std::vector<HeaderField>& fields) {
  if (const HeaderField* f = FirstField(fields, "Content-Disposition")) {
    return GObjectPtr<GMimeContentDisposition>(
        g_mime_content_disposition_parse(SharedParserOptions(), DecodedHeaderValue(f->raw_value).c_str()));
  }
  return nullptr;
}

std::atomic<std::uint64_t> next_light_serial{1};

// The objects of the light leaf asked last on this thread. Keyed by serial number, not address:
// a leaf freed and another made at its address must not find the first one's objects.
struct LightSlot {
  std::uint64_t serial = 0;
  GObjectPtr<GMimeContentType> content_type;
  bool disposition_read = false;
  GObjectPtr<GMimeContentDisposition> disposition;
};
thread_local LightSlot light_slot;

LightSlot& SlotFor(std::uint64_t serial) {
  if (light_slot.serial != serial) {
    light_slot.serial = serial;
    light_slot.content_type.reset();
    light_slot.disposition_read = false;
    light_slot.disposition.reset();
  }
  return light_slot;
}

}  // namespace

std::unique_ptr<StructuralEntity> StructuralEntity::Light(std::vector<HeaderField> fields) {
  auto entity = std::make_unique<StructuralEntity>(std::move(fields), EntityKind::kLeaf, nullptr);
  entity->light_serial_ = next_light_serial.fetch_add(1, std::memory_order_relaxed);
  return entity;
}

GMimeContentType* StructuralEntity::ContentType() const {
  if (light_serial_ == 0) return content_type_.get();
  LightSlot& slot = SlotFor(light_serial_);
  if (!slot.content_type) slot.content_type = ParseLeafType(fields_);
  return slot.content_type.get();
}

GMimeContentDisposition* StructuralEntity::Disposition() const {
  if (light_serial_ != 0) {
    LightSlot& slot = SlotFor(light_serial_);
    if (!slot.disposition_read) {
      slot.disposition_read = true;
      slot.disposition = ParseDisposition(fields_);
    }
    return slot.disposition.get();
  }
  if (!disposition_read_) {
    disposition_read_ = true;
    disposition_ = ParseDisposition(fields_);
  }
  return disposition_.get();
}

std::optional<std::string> StructuralEntity::ContentId() const {
  const HeaderField* f = FirstField(fields_, "Content-Id");
  if (f == nullptr) return std::nullopt;
  return TakeGString(g_mime_utils_decode_message_id(DecodedHeaderValue(f->raw_value).c_str()));
}

std::optional<std::string> StructuralEntity::ContentLocation() const {
  const HeaderField* f = kind_ == EntityKind::kLeaf ? FirstField(fields_, "Content-Location") : nullptr;
  if (f == nullptr) return std::nullopt;
  return DecodedHeaderValue(f->raw_value);
}

std::optional<std::string> StructuralEntity::PartFileName() const {
  if (kind_ != EntityKind::kLeaf) return std::nullopt;
  GMimeContentDisposition* disposition = Disposition();
  const char* name =
      disposition ? g_mime_content_disposition_get_parameter(disposition, "filename") : nullptr;
  if (name == nullptr) name = g_mime_content_type_get_parameter(ContentType(), "name");
  if (name == nullptr) return std::nullopt;
  return std::string(name);
}

std::optional<std::string> StructuralEntity::RawHeader(const char* name) const {
  const HeaderField* f = FirstField(fields_, name);
  if (f == nullptr) return std::nullopt;
  return std::string(f->raw_value);
}

std::string StructuralEntity::DecodedContent() const { return TransferDecode(content_, encoding_); }

const MimeEntity* StructuralEntity::SubpartByContentId(const char* content_id) const {
  if (kind_ != EntityKind::kMultipart) return nullptr;
  if (const std::optional<std::string> id = ContentId(); id && *id == content_id) return this;
  for (const auto& child : children_) {
    if (const std::optional<std::string> id = child->ContentId(); id && *id == content_id) return child.get();
    if (child->kind_ == EntityKind::kMultipart) {
      if (const MimeEntity* found = child->SubpartByContentId(content_id)) return found;
    }
  }
  return nullptr;
}

StructuralMessage::~StructuralMessage() {
  if (date_ != nullptr) g_date_time_unref(date_);
}

const HeaderField* StructuralMessage::LastField(std::string_view name) const {
  for (auto f = fields_.rbegin(); f != fields_.rend(); ++f) {
    if (AsciiIEquals(f->name, name)) return &*f;
  }
  return nullptr;
}

std::string StructuralMessage::WrittenHeaders() const {
  std::string out;
  out.reserve(header_section_.size());
  for (size_t i = 0; i < header_section_.size(); ++i) {
    if (header_section_[i] == '\r' && i + 1 < header_section_.size() && header_section_[i + 1] == '\n')
      continue;
    out += header_section_[i];
  }
  return out;
}

std::optional<std::string> StructuralMessage::Header(const char* name) const {
  const HeaderField* f = FirstField(fields_, name);
  if (f == nullptr) return std::nullopt;
  return DecodedHeaderValue(f->raw_value);
}

std::optional<std::string> StructuralMessage::RawHeader(const char* name) const {
  const HeaderField* f = FirstField(fields_, name);
  if (f == nullptr) return std::nullopt;
  return std::string(f->raw_value);
}

std::string StructuralMessage::RawHeaderValues(const char* name) const {
  std::string joined;
  for (const HeaderField& f : fields_) {
    if (!AsciiIEquals(f.name, name)) continue;
    if (!joined.empty()) joined += ',';
    joined += f.raw_value;
  }
  return joined;
}

// GMime parses the raw value of every header of the kind and appends the lists in order.
std::unique_ptr<StructuralMessage> StructuralMessage::Make(std::vector<HeaderField> fields,
                                                           std::unique_ptr<StructuralEntity> body,
                                                           std::string_view header_section,
                                                           std::string_view bytes) {
  std::unique_ptr<StructuralMessage> message(
      new StructuralMessage(std::move(fields), std::move(body), header_section, bytes));
  for (int i = 0; i < kAddressTypes; ++i) {
    for (const HeaderField& f : message->fields_) {
      if (!AsciiIEquals(f.name, kAddressHeaders[i])) continue;
      GObjectPtr<InternetAddressList>& all = message->addresses_[i];
      if (!all) all.reset(internet_address_list_new());
      const std::string raw(f.raw_value);
      GObjectPtr<InternetAddressList> list(internet_address_list_parse(SharedParserOptions(), raw.c_str()));
      if (list) {
        internet_address_list_append(all.get(), list.get());
      } else if (raw.find_first_not_of(" \t\r\n") != std::string::npos) {
        return nullptr;
      }
    }
  }
  return message;
}

InternetAddressList* StructuralMessage::Addresses(GMimeAddressType type) const {
  const int i = static_cast<int>(type);
  return i >= 0 && i < kAddressTypes ? addresses_[i].get() : nullptr;
}

// Every Date header replaces the date of the one before, even when it does not parse.
GDateTime* StructuralMessage::Date() const {
  if (!date_read_) {
    date_read_ = true;
    if (const HeaderField* f = LastField("Date")) date_ = ParseMailDate(DecodedHeaderValue(f->raw_value));
  }
  return date_;
}

// As with Date, the last Message-Id header decides.
std::optional<std::string> StructuralMessage::MessageId() const {
  const HeaderField* f = LastField("Message-Id");
  if (f == nullptr) return std::nullopt;
  return TakeGString(g_mime_utils_decode_message_id(DecodedHeaderValue(f->raw_value).c_str()));
}

}  // namespace mime
