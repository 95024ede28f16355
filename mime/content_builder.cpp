#include "mime/content_builder.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/cancel.h"
#include "mime/charset.h"
#include "mime/encoded_words.h"
#include "mime/header_reader.h"
#include "mime/html_text.h"
#include "mime/part_data.h"
#include "mime/strings.h"
#include "mime/tnef_reader.h"
#include "mime/uuencoded_text.h"

namespace mime {
namespace {

// Deeper multiparts are not walked for a body; their leaves still become attachments. Real mail
// rarely nests beyond ten levels, and GMime itself stops at 1024.
constexpr int kMaxPartDepth = 64;
// Deeper message/rfc822 parts are kept as raw bytes instead of being parsed into a nested model.
constexpr int kMaxEmbeddedDepth = 32;

// GMime returns UTF-8 for decoded headers and parameters, but raw 8-bit input can slip through.
std::string SafeText(const char* s) {
  if (s == nullptr) return {};
  return Utf8OrWindows1252ToUtf8(s);
}
std::string SafeText(const std::optional<std::string>& s) { return s ? SafeText(s->c_str()) : std::string(); }

std::string MimeTypeOf(const MimeEntity* object) {
  GMimeContentType* ct = object->ContentType();  // Borrowed.
  if (ct == nullptr) return "application/octet-stream";
  const char* type = g_mime_content_type_get_media_type(ct);
  const char* subtype = g_mime_content_type_get_media_subtype(ct);
  return AsciiLower(std::string(type ? type : "application") + "/" + (subtype ? subtype : "octet-stream"));
}

std::string CharsetOf(const MimeEntity* object) {
  GMimeContentType* ct = object->ContentType();  // Borrowed.
  const char* charset = ct ? g_mime_content_type_get_parameter(ct, "charset") : nullptr;
  return charset ? NormalizeCharsetName(charset) : std::string();
}

// Whether the part's transfer encoding is 7bit or 8bit, or none is named.
bool IsLineData(const MimeEntity* object) {
  const std::optional<std::string> raw = object->RawHeader("Content-Transfer-Encoding");
  if (!raw) return true;
  const GMimeContentEncoding encoding = g_mime_content_encoding_from_string(TrimWhitespace(*raw).c_str());
  return encoding == GMIME_CONTENT_ENCODING_7BIT || encoding == GMIME_CONTENT_ENCODING_8BIT ||
         (encoding == GMIME_CONTENT_ENCODING_DEFAULT && TrimWhitespace(*raw).empty());
}

const char* DispositionOf(const MimeEntity* object) {
  GMimeContentDisposition* disposition = object->Disposition();  // Borrowed.
  return disposition ? g_mime_content_disposition_get_disposition(disposition) : nullptr;
}

bool HasAttachmentDisposition(const MimeEntity* object) {
  const char* d = DispositionOf(object);
  return d != nullptr && AsciiLower(TrimWhitespace(d)) == "attachment";
}

bool HasInlineDisposition(const MimeEntity* object) {
  const char* d = DispositionOf(object);
  return d != nullptr && AsciiLower(TrimWhitespace(d)) == "inline";
}

// The part's file name: Content-Disposition's filename, else Content-Type's name. GMime decodes
// RFC 2231 forms well, but RFC 2047 encoded words in a plain value with its lossy decoder, so
// those are decoded again here from the raw header.
std::string FileNameOf(const MimeEntity* object, const std::optional<std::string>& gmime_value) {
  const std::pair<const char*, const char*> sources[] = {{"Content-Disposition", "filename"},
                                                         {"Content-Type", "name"}};
  for (const auto& [header, parameter] : sources) {
    const std::optional<std::string> raw = object->RawHeader(header);
    if (!raw) continue;
    bool extended = false;
    const std::optional<std::string> plain = PlainParameter(*raw, parameter, &extended);
    if (extended) break;  // GMime prefers the RFC 2231 form, and reads it correctly.
    if (plain) {
      // Also when GMime has nothing: it drops the parameters of a malformed type
      // ("application-x-gzip; name=...").
      const bool empty = !gmime_value || gmime_value->empty();
      if (empty || plain->find("=?") != std::string::npos) return TrimWhitespace(DecodeHeaderText(*plain));
      break;
    }
  }
  return SafeText(gmime_value);
}

// A part that may be the plain or HTML body: text/plain or text/html, not marked as an
// attachment and not carrying a file name.
bool IsBodyText(const MimeEntity* object, std::string_view mime_type) {
  if (object->Kind() != EntityKind::kLeaf || (mime_type != "text/plain" && mime_type != "text/html"))
    return false;
  if (HasAttachmentDisposition(object)) return false;
  const std::optional<std::string> name = object->PartFileName();
  return !name || name->empty();
}

// The charset an HTML body is written in: the declared one, else one named by a <meta> element
// near the top, else UTF-8 when the bytes are valid UTF-8, else windows-1252.
std::string HtmlCharset(std::string_view html, std::string declared) {
  const bool ascii_only =
      std::all_of(html.begin(), html.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!declared.empty() && (declared != "us-ascii" || ascii_only)) return declared;
  const std::string head = AsciiLower(html.substr(0, 4096));
  for (size_t meta = head.find("<meta"); meta != std::string::npos; meta = head.find("<meta", meta + 5)) {
    const size_t close = head.find('>', meta);
    const size_t at = head.find("charset", meta);
    if (at == std::string::npos || (close != std::string::npos && at > close)) continue;
    size_t i = at + 7;
    while (i < head.size() && (head[i] == ' ' || head[i] == '=' || head[i] == '"' || head[i] == '\'')) ++i;
    size_t e = i;
    while (e < head.size() && (std::isalnum(static_cast<unsigned char>(head[e])) || head[e] == '-' ||
                               head[e] == '_' || head[e] == '.' || head[e] == ':')) {
      ++e;
    }
    if (e > i) return head.substr(i, e - i);
  }
  return IsValidUtf8(html) ? "utf-8" : "windows-1252";
}

// Content-IDs that the HTML refers to as "cid:...", lower-cased.
std::unordered_set<std::string> ReferencedContentIds(std::string_view html) {
  std::unordered_set<std::string> ids;
  const std::string lower = AsciiLower(html);
  for (size_t at = lower.find("cid:"); at != std::string::npos; at = lower.find("cid:", at + 4)) {
    size_t e = at + 4;
    while (e < lower.size() && std::string_view("\"'>) \t\r\n").find(lower[e]) == std::string_view::npos) ++e;
    if (e > at + 4) ids.insert(lower.substr(at + 4, e - at - 4));
  }
  return ids;
}

class PartWalker {
 public:
  PartWalker(ParsedMessage& out, int message_depth, int max_embedded_depth)
      : out_(out), message_depth_(message_depth), max_embedded_depth_(max_embedded_depth) {}

  void Walk(const MimeEntity* object, bool want_body, int depth) {
    // A stop leaves the model unfinished; the caller sees the request and reports the stop.
    if (object == nullptr || quill::CancelRequested()) return;
    if (depth > kMaxPartDepth) {
      out_.notes.push_back("parts nested deeper than " + std::to_string(kMaxPartDepth) +
                           " levels kept as attachments");
      CollectLeaves(object);
      return;
    }
    const EntityKind kind = object->Kind();
    if (kind == EntityKind::kMultipart) {
      WalkMultipart(object, want_body, depth);
    } else if (kind == EntityKind::kMessagePart) {
      AddEmbedded(object);
    } else if (kind == EntityKind::kLeaf) {
      WalkLeaf(object, want_body);
    }
  }

 private:
  bool HasBody() const { return !out_.text_body.empty() || !out_.html_body.empty() || bodies_taken_ > 0; }

  void WalkMultipart(const MimeEntity* object, bool want_body, int depth) {
    const int count = object->ChildCount();
    const std::string type = MimeTypeOf(object);
    if (count == 0) {
      // No boundary line matched: GMime left the whole content as the prologue. It is the
      // best body text there is.
      std::string prologue = object->Prologue();
      if (!prologue.empty()) {
        out_.notes.push_back(type + " without any part; its text kept as the body");
        if (want_body && !HasBody()) {
          out_.text_body = Utf8OrWindows1252ToUtf8(prologue);
          ++bodies_taken_;
        } else {
          Attachment a;
          a.mime_type = "text/plain";
          a.data = std::move(prologue);
          out_.attachments.push_back(std::move(a));
        }
      }
      return;
    }
    auto child = [&](int i) { return object->Child(i); };  // Borrowed.

    if (type == "multipart/alternative") {
      WalkAlternative(object, want_body, depth);
    } else if (type == "multipart/related") {
      const MimeEntity* root = child(0);
      GMimeContentType* ct = object->ContentType();
      if (const char* start = ct ? g_mime_content_type_get_parameter(ct, "start") : nullptr) {
        std::string id = TrimWhitespace(start);
        if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
        if (const MimeEntity* found = object->SubpartByContentId(id.c_str())) {
          root = found;
        }
      }
      Walk(root, want_body, depth + 1);
      for (int i = 0; i < count; ++i) {
        if (child(i) != root) Walk(child(i), false, depth + 1);
      }
    } else if (type == "multipart/signed") {
      // The signed content is the message; the signature travels along as an attachment.
      for (int i = 0; i < count; ++i) Walk(child(i), want_body && i == 0, depth + 1);
    } else if (type == "multipart/encrypted") {
      for (int i = 0; i < count; ++i) Walk(child(i), false, depth + 1);
    } else {
      // mixed, report, digest, parallel and any unknown kind: the first part that can be the
      // body is the body, everything after it is an attachment, except that Apple Mail writes a
      // body with attachments in between as several inline text parts: a later inline part of
      // the kind this multipart already gave the body continues that body.
      const int taken_before = bodies_taken_;
      const int plain_before = plain_taken_;
      const int html_before = html_taken_;
      for (int i = 0; i < count; ++i) {
        const MimeEntity* part = child(i);
        const bool took_here = bodies_taken_ != taken_before;
        if (want_body && took_here &&
            ContinueBody(part, plain_taken_ != plain_before, html_taken_ != html_before)) {
          continue;
        }
        Walk(part, want_body && !took_here, depth + 1);
      }
    }
  }

  // Appends `object` to the body when it is inline text of the kind that `plain_here` or
  // `html_here` says the enclosing multipart supplied. Returns whether it did.
  bool ContinueBody(const MimeEntity* object, bool plain_here, bool html_here) {
    const std::string type = MimeTypeOf(object);
    if (!IsBodyText(object, type)) return false;
    if (type == "text/html" && html_here) {
      std::string more = object->DecodedContent();
      const std::string charset = HtmlCharset(more, CharsetOf(object));
      if (charset == out_.html_charset) {
        out_.html_body += more;
      } else {
        // Two charsets cannot share one byte string: carry both over to UTF-8.
        out_.html_body =
            TakeAsUtf8(std::move(out_.html_body), out_.html_charset) + TakeAsUtf8(std::move(more), charset);
        out_.html_charset = "utf-8";
      }
      return true;
    }
    if (type == "text/plain" && plain_here && !html_here) {
      out_.text_body += '\n';
      out_.text_body += TakeAsUtf8(object->DecodedContent(), CharsetOf(object));
      return true;
    }
    return false;
  }

  void WalkAlternative(const MimeEntity* multipart, bool want_body, int depth) {
    // Later alternatives are the sender's preferred ones. Keep the last plain text and the last
    // richer form (HTML, or a multipart holding it); other renderings of the same text are
    // dropped, and anything that is not a rendering of the text (a calendar invitation) is kept
    // as an attachment.
    const MimeEntity* plain = nullptr;
    const MimeEntity* rich = nullptr;
    std::vector<const MimeEntity*> others;
    const int count = multipart->ChildCount();
    for (int i = 0; i < count; ++i) {
      const MimeEntity* part = multipart->Child(i);  // Borrowed.
      const std::string type = MimeTypeOf(part);
      if (type == "text/plain" && IsBodyText(part, type)) {
        plain = part;
      } else if ((type == "text/html" && IsBodyText(part, type)) || part->Kind() == EntityKind::kMultipart) {
        rich = part;
      } else {
        others.push_back(part);
      }
    }
    if (want_body) {
      Walk(plain, true, depth + 1);
      Walk(rich, true, depth + 1);
    } else {
      Walk(rich != nullptr ? rich : plain, false, depth + 1);
    }
    for (const MimeEntity* part : others) {
      const std::string type = MimeTypeOf(part);
      const bool other_rendering = type.starts_with("text/") && type != "text/calendar";
      if (other_rendering && (plain != nullptr || rich != nullptr)) continue;
      Walk(part, false, depth + 1);
    }
  }

  void WalkLeaf(const MimeEntity* object, bool want_body) {
    const std::string type = MimeTypeOf(object);
    if (want_body && IsBodyText(object, type)) {
      if (type == "text/plain" && out_.text_body.empty() && plain_taken_ == 0) {
        out_.text_body = TakeAsUtf8(object->DecodedContent(), CharsetOf(object));
        ++plain_taken_;
        ++bodies_taken_;
        return;
      }
      if (type == "text/html" && out_.html_body.empty() && html_taken_ == 0) {
        out_.html_body = object->DecodedContent();
        out_.html_charset = HtmlCharset(out_.html_body, CharsetOf(object));
        ++html_taken_;
        ++bodies_taken_;
        return;
      }
    }
    Attachment a;
    a.mime_type = type;
    a.file_name = FileNameOf(object, object->PartFileName());
    a.content_id = SafeText(object->ContentId());
    a.content_location = SafeText(object->ContentLocation());
    a.inline_disposition = HasInlineDisposition(object);
    a.data = object->DecodedContent();
    // 7-bit and 8-bit data hold CR only in CR LF (RFC 2045), so a CR ending them is the first half
    // of the line break before a delimiter whose own line ends in LF only: the parsers take back
    // just the LF.
    if (!a.data.empty() && a.data.back() == '\r' && IsLineData(object)) a.data.pop_back();
    out_.attachments.push_back(std::move(a));
  }

  void AddEmbedded(const MimeEntity* object) {
    Attachment a;
    a.mime_type = MimeTypeOf(object);
    GMimeContentDisposition* disposition = object->Disposition();  // Borrowed.
    GMimeContentType* ct = object->ContentType();                  // Borrowed.
    const char* name =
        disposition ? g_mime_content_disposition_get_parameter(disposition, "filename") : nullptr;
    if (name == nullptr && ct != nullptr) name = g_mime_content_type_get_parameter(ct, "name");
    a.file_name = FileNameOf(object, name ? std::optional<std::string>(name) : std::nullopt);
    a.content_id = SafeText(object->ContentId());
    a.inline_disposition = HasInlineDisposition(object);
    const MimeMessage* inner = object->EmbeddedMessage();  // Borrowed.
    if (inner != nullptr && message_depth_ < max_embedded_depth_) {
      a.embedded = std::make_unique<ParsedMessage>();
      BuildContent(*inner, {}, message_depth_ + 1, *a.embedded, max_embedded_depth_);
    } else if (inner != nullptr) {
      // Nothing is lost: the levels below stay readable as an .eml file.
      out_.notes.push_back("messages enclosed deeper than " + std::to_string(max_embedded_depth_) +
                           " levels kept as an .eml attachment");
      a.data = inner->WrittenMessage();
    }
    out_.attachments.push_back(std::move(a));
  }

  void KeepUnwalked(const MimeEntity* multipart) {
    std::string rest = multipart->Prologue();
    if (rest.empty()) return;
    out_.notes.push_back("parts nested too deeply to be read kept as one text attachment");
    Attachment a;
    a.mime_type = "text/plain";
    a.data = std::move(rest);
    out_.attachments.push_back(std::move(a));
  }

  // Every leaf below `root` as an attachment, without recursion (the tree may be very deep).
  void CollectLeaves(const MimeEntity* root) {
    std::vector<const MimeEntity*> stack{root};
    while (!stack.empty() && !quill::CancelRequested()) {
      const MimeEntity* object = stack.back();
      stack.pop_back();
      const EntityKind kind = object->Kind();
      if (kind == EntityKind::kMultipart) {
        for (int i = object->ChildCount() - 1; i >= 0; --i) stack.push_back(object->Child(i));
        // Where GMime stopped nesting (past 1024 levels) the rest of the tree is left as text
        // before the first boundary: kept as it stands.
        if (object->ChildCount() == 0) KeepUnwalked(object);
      } else if (kind == EntityKind::kMessagePart) {
        AddEmbedded(object);
      } else if (kind == EntityKind::kLeaf) {
        WalkLeaf(object, false);
      }
    }
  }

  ParsedMessage& out_;
  const int message_depth_;
  const int max_embedded_depth_;
  int bodies_taken_ = 0;
  int plain_taken_ = 0;
  int html_taken_ = 0;
};

// Files that older mailers pasted into the plain text as uuencoded blocks become attachments. Only
// text that was sent as plain text is looked at: text derived from HTML holds none.
void TakeUuencodedFiles(ParsedMessage& out) {
  const int taken = ExtractUuencodedBlocks(out.text_body, out.attachments);
  if (taken > 0)
    out.notes.push_back(std::to_string(taken) + " uuencoded file(s) taken from the body as attachments");
}

// Outlook's winmail.dat: the attachments it packs take its place, and its body becomes the
// message's when the MIME body is empty. A stream that cannot be read stays as it came, with a note.
void TakeTnefContents(ParsedMessage& out) {
  size_t i = 0;
  while (i < out.attachments.size()) {
    const Attachment& part = out.attachments[i];
    const bool tnef_type =
        part.mime_type == "application/ms-tnef" || part.mime_type == "application/vnd.ms-tnef";
    if (part.embedded || (!tnef_type && !AsciiIEquals(part.file_name, "winmail.dat"))) {
      ++i;
      continue;
    }
    if (!LooksLikeTnef(part.data)) {
      if (tnef_type) {
        out.notes.push_back("application/ms-tnef part is not a TNEF stream; kept as an attachment");
      }
      ++i;
      continue;
    }
    quill::Result<TnefContent> tnef = ReadTnef(part.data);
    if (!tnef.ok()) {
      out.notes.push_back("winmail.dat could not be decoded (" + tnef.status().message() +
                          "); kept as an attachment");
      ++i;
      continue;
    }
    if (TrimWhitespace(out.text_body).empty() && out.html_body.empty() &&
        (!tnef->text_body.empty() || !tnef->html_body.empty())) {
      out.text_body = std::move(tnef->text_body);
      out.html_body = std::move(tnef->html_body);
      out.html_charset = std::move(tnef->html_charset);
    }
    std::vector<Attachment>& inner = tnef->attachments;
    const size_t count = inner.size();
    const auto at = out.attachments.erase(out.attachments.begin() + static_cast<std::ptrdiff_t>(i));
    out.attachments.insert(at, std::make_move_iterator(inner.begin()), std::make_move_iterator(inner.end()));
    out.notes.push_back("winmail.dat decoded into " + std::to_string(count) + " attachment(s)");
    i += count;
  }
}

}  // namespace

void BuildContent(const MimeMessage& message, std::string_view raw_headers, int depth, ParsedMessage& out,
                  int max_embedded_depth) {
  ReadHeaderFields(message, out);
  out.headers =
      Utf8OrWindows1252ToUtf8(raw_headers.empty() ? message.WrittenHeaders() : std::string(raw_headers));

  PartWalker walker(out, depth, std::min(max_embedded_depth, kMaxEmbeddedDepth));
  walker.Walk(message.Body(), true, 0);  // Borrowed.
  TakeUuencodedFiles(out);
  TakeTnefContents(out);

  if (!out.html_body.empty()) {
    const std::unordered_set<std::string> referenced = ReferencedContentIds(out.html_body);
    for (Attachment& a : out.attachments) {
      if (!a.content_id.empty() && referenced.contains(AsciiLower(a.content_id))) a.hidden = true;
      // A saved web page (MHTML) refers to its images by the URL in their Content-Location.
      if (!a.content_location.empty() && a.content_location.size() > 4 &&
          out.html_body.find(a.content_location) != std::string::npos) {
        a.hidden = true;
      }
    }
    if (out.text_body.empty()) {
      out.text_body = HtmlToText(ToUtf8(std::string_view(out.html_body), out.html_charset));
      out.text_from_html = true;
    }
  }
}

void BuildContentFromUnparsed(std::string_view bytes, ParsedMessage& out) {
  if (bytes.empty()) return;
  // Text has few control characters; binary data has many, and a NUL settles it.
  size_t controls = 0;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b == 0) {
      controls = bytes.size();
      break;
    }
    if (b < 0x20 && b != '\n' && b != '\r' && b != '\t' && b != '\f') ++controls;
  }
  if (controls * 100 < bytes.size()) {
    out.text_body = Utf8OrWindows1252ToUtf8(bytes);
    out.notes.push_back("no header section; the whole file kept as the body");
    TakeUuencodedFiles(out);
    return;
  }
  Attachment a;
  a.mime_type = "application/octet-stream";
  a.data.assign(bytes);
  out.attachments.push_back(std::move(a));
  out.notes.push_back("not a mail message; the whole file kept as an attachment");
}

}  // namespace mime
