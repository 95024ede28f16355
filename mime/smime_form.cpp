#include "mime/smime_form.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "mime/strings.h"

namespace mime {
namespace {

// The name Outlook gives the attachment of either form.
constexpr const char* kSmimeFileName = "smime.p7m";

std::string LowerTypeOf(const MimeEntity& entity) {
  GMimeContentType* ct = entity.ContentType();  // Borrowed.
  if (ct == nullptr) return {};
  const char* type = g_mime_content_type_get_media_type(ct);
  const char* subtype = g_mime_content_type_get_media_subtype(ct);
  return AsciiLower(std::string(type ? type : "") + "/" + (subtype ? subtype : ""));
}

std::string LowerParameter(const MimeEntity& entity, const char* name) {
  GMimeContentType* ct = entity.ContentType();  // Borrowed.
  const char* value = ct ? g_mime_content_type_get_parameter(ct, name) : nullptr;
  return value ? AsciiLower(TrimWhitespace(value)) : std::string();
}

bool IsSignatureType(std::string_view type) {
  return type == "application/pkcs7-signature" || type == "application/x-pkcs7-signature";
}

// A multipart may only be sent as it is; one that claims an encoding cannot be taken whole.
bool HasIdentityEncoding(const MimeEntity& entity) {
  const std::optional<std::string> raw = entity.RawHeader("Content-Transfer-Encoding");
  if (!raw) return true;
  const std::string encoding = AsciiLower(TrimWhitespace(*raw));
  return encoding.empty() || encoding == "7bit" || encoding == "8bit" || encoding == "binary";
}

// The last Content-Type field of `header` (a header section), from the first byte of its name
// through the line break that ends its last line, as it stands. Empty when there is none.
std::string_view LastContentTypeField(std::string_view header) {
  std::string_view found;
  size_t line = 0;
  while (line < header.size()) {
    size_t end = header.find('\n', line);
    end = end == std::string_view::npos ? header.size() : end + 1;
    // Folded lines belong to the field they continue.
    while (end < header.size() && (header[end] == ' ' || header[end] == '\t')) {
      const size_t next = header.find('\n', end);
      end = next == std::string_view::npos ? header.size() : next + 1;
    }
    const std::string_view field = header.substr(line, end - line);
    const size_t colon = field.find(':');
    if (colon != std::string_view::npos) {
      std::string_view name = field.substr(0, colon);
      while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
      if (AsciiIEquals(name, "Content-Type")) found = field;
    }
    line = end;
  }
  return found;
}

SmimeEntity FindClearSigned(const MimeEntity& body, std::string_view bytes, size_t header_length) {
  SmimeEntity none;
  if (body.Kind() != EntityKind::kMultipart || body.ChildCount() != 2) return none;
  if (!IsSignatureType(LowerParameter(body, "protocol"))) return none;
  const MimeEntity* signature = body.Child(1);
  if (signature == nullptr || signature->Kind() != EntityKind::kLeaf ||
      !IsSignatureType(LowerTypeOf(*signature))) {
    return none;
  }
  if (!HasIdentityEncoding(body) || header_length > bytes.size()) return none;

  const std::string_view field = LastContentTypeField(bytes.substr(0, header_length));
  if (AsciiLower(field).find("multipart/signed") == std::string::npos) return none;
  const std::string_view rest = bytes.substr(header_length);
  const size_t blank = rest.starts_with("\r\n") ? 2 : rest.starts_with("\n") ? 1 : 0;
  if (blank == 0) return none;  // No body at all.
  // The parser's parts must be those of these bytes.
  GMimeContentType* ct = body.ContentType();  // Borrowed.
  const char* boundary = ct ? g_mime_content_type_get_parameter(ct, "boundary") : nullptr;
  if (boundary == nullptr || rest.find("--" + std::string(boundary)) == std::string_view::npos) return none;

  SmimeEntity entity;
  entity.form = SmimeForm::kClearSigned;
  entity.signed_entity.reserve(field.size() + rest.size());
  entity.signed_entity.append(field);
  entity.signed_entity.append(rest);
  return entity;
}

SmimeEntity FindOpaque(const MimeEntity& body, std::string_view header) {
  SmimeEntity none;
  if (body.Kind() != EntityKind::kLeaf) return none;
  const std::string type = LowerTypeOf(body);
  const bool pkcs7 = type == "application/pkcs7-mime" || type == "application/x-pkcs7-mime";
  if (!pkcs7 && type != "application/octet-stream") return none;
  const std::optional<std::string> name = body.PartFileName();
  const std::string lower_name = name ? AsciiLower(TrimWhitespace(*name)) : std::string();
  if (!pkcs7 && !lower_name.ends_with(".p7m")) return none;
  // Certificates alone (.p7c, certs-only) and compressed data are no signed or encrypted message.
  if (lower_name.ends_with(".p7c") || lower_name.ends_with(".p7z")) return none;
  const std::string smime_type = LowerParameter(body, "smime-type");
  if (!smime_type.empty() && smime_type != "signed-data" && smime_type != "enveloped-data" &&
      smime_type != "authenveloped-data") {
    return none;
  }
  SmimeEntity entity;
  entity.form = SmimeForm::kOpaque;
  const std::string_view field = LastContentTypeField(header);
  for (char c : field.substr(field.find(':') + 1)) {
    if (c != '\r' && c != '\n') entity.content_type += c;
  }
  entity.content_type = TrimWhitespace(entity.content_type);
  return entity;
}

}  // namespace

SmimeEntity FindSmimeEntity(const MimeMessage& message, std::string_view bytes, size_t header_length) {
  const MimeEntity* body = message.Body();  // Borrowed.
  if (body == nullptr) return {};
  const std::string type = LowerTypeOf(*body);
  if (type == "multipart/signed") return FindClearSigned(*body, bytes, header_length);
  return FindOpaque(*body, bytes.substr(0, std::min(header_length, bytes.size())));
}

void ApplySmimeForm(SmimeEntity entity, ParsedMessage& out) {
  if (entity.form == SmimeForm::kClearSigned) {
    // The signed part's own attachments and the signature travel inside the entity, where Outlook
    // finds them when it shows the message; the body stays as read from the signed part.
    Attachment a;
    a.file_name = kSmimeFileName;
    a.mime_type = "multipart/signed";
    a.data = std::move(entity.signed_entity);
    out.attachments.clear();
    out.attachments.push_back(std::move(a));
    out.smime = SmimeForm::kClearSigned;
  } else if (entity.form == SmimeForm::kOpaque) {
    if (out.attachments.size() != 1 || out.attachments.front().data.empty() ||
        out.attachments.front().embedded) {
      return;
    }
    Attachment& a = out.attachments.front();
    if (a.file_name.empty()) a.file_name = kSmimeFileName;
    a.inline_disposition = false;
    a.hidden = false;
    // Even signed-only content is shown only once Outlook has checked it.
    out.text_body.clear();
    out.text_from_html = false;
    out.html_body.clear();
    out.html_charset.clear();
    out.smime = SmimeForm::kOpaque;
    out.smime_content_type = std::move(entity.content_type);
  }
}

}  // namespace mime
