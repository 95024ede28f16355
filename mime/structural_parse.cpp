#include "mime/structural_parse.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "mime/strings.h"
#include "mime/structural_entity.h"

namespace mime {
namespace {

// Real mail stays far below these; beyond them GMime is the safer reader.
constexpr int kMaxDepth = 16;  // Multiparts and messages, counted together.
constexpr size_t kMaxEntities = 200000;
// Leaves past this many entities keep no GMime objects (see StructuralEntity::Light).
constexpr size_t kEntitiesKeptParsed = 1000;
constexpr size_t kMaxFieldsPerBlock = 1000;
constexpr size_t kMaxFieldNameLength = 256;
constexpr size_t kMaxContentFields = 32;
constexpr size_t kMaxBoundaryLength = 200;  // Mail programs write at most 70.

bool IsFieldNameByte(unsigned char c) { return c > 0x20 && c < 0x7F && c != ':'; }
bool IsTokenByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::strchr("!#$%&'*+-.^_`{|}~", c) != nullptr;
}

// GMime gives a message's Content-* fields to its top entity, the others to the message.
bool IsContentField(const HeaderField& f) {
  return f.name.size() >= 8 && AsciiIEquals(f.name.substr(0, 8), "Content-");
}

// `type/subtype` as plain tokens, with nothing before it but blanks and line breaks and nothing
// after it but blanks and then ';' or the end. Only for such a value does GMime's parser decide
// the kind of entity from the same type as the one the entity reports.
bool PlainMediaType(std::string_view raw, std::string_view& type, std::string_view& subtype) {
  size_t i = 0;
  auto blank = [&](size_t at) {
    return at < raw.size() && (raw[at] == ' ' || raw[at] == '\t' || raw[at] == '\r' || raw[at] == '\n');
  };
  while (blank(i)) ++i;
  size_t b = i;
  while (i < raw.size() && IsTokenByte(static_cast<unsigned char>(raw[i]))) ++i;
  type = raw.substr(b, i - b);
  if (type.empty() || i >= raw.size() || raw[i] != '/') return false;
  b = ++i;
  while (i < raw.size() && IsTokenByte(static_cast<unsigned char>(raw[i]))) ++i;
  subtype = raw.substr(b, i - b);
  if (subtype.empty()) return false;
  while (blank(i)) ++i;
  return i == raw.size() || raw[i] == ';';
}

bool IsEmbeddedMessageType(std::string_view type, std::string_view subtype) {
  return AsciiIEquals(type, "message") &&
         (AsciiIEquals(subtype, "rfc822") || AsciiIEquals(subtype, "rfc2822") ||
          AsciiIEquals(subtype, "global") || AsciiIEquals(subtype, "news"));
}

// The transfer encoding of a leaf, when it is one of the plain ones.
std::optional<GMimeContentEncoding> LeafEncoding(const std::vector<HeaderField>& fields) {
  const HeaderField* f = FirstField(fields, "Content-Transfer-Encoding");
  if (f == nullptr) return GMIME_CONTENT_ENCODING_DEFAULT;
  const std::string value = DecodedHeaderValue(f->raw_value);
  size_t b = 0, e = value.size();
  while (b < e && (value[b] == ' ' || value[b] == '\t')) ++b;
  while (e > b && (value[e - 1] == ' ' || value[e - 1] == '\t')) --e;
  const std::string_view token = std::string_view(value).substr(b, e - b);
  GMimeContentEncoding expected;
  if (AsciiIEquals(token, "7bit")) {
    expected = GMIME_CONTENT_ENCODING_7BIT;
  } else if (AsciiIEquals(token, "8bit")) {
    expected = GMIME_CONTENT_ENCODING_8BIT;
  } else if (AsciiIEquals(token, "binary")) {
    expected = GMIME_CONTENT_ENCODING_BINARY;
  } else if (AsciiIEquals(token, "base64")) {
    expected = GMIME_CONTENT_ENCODING_BASE64;
  } else if (AsciiIEquals(token, "quoted-printable")) {
    expected = GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
  } else {
    return std::nullopt;
  }
  // GMime reads the same value; insist that it makes the same of it.
  if (g_mime_content_encoding_from_string(value.c_str()) != expected) return std::nullopt;
  return expected;
}

// A line that starts with "--" and is the delimiter of one of the boundaries in force.
struct Delimiter {
  size_t begin = 0;  // Of the line.
  size_t end = 0;    // After its line break, or the end of the input.
  int level = -1;    // Index into the boundary stack; -1 for the end of the input.
  bool closing = false;
  bool crlf = false;  // The line ends in CR LF (or in a CR at the end of the input).
  bool has_newline = false;
};

class StructureParser {
 public:
  explicit StructureParser(std::string_view bytes) : s_(bytes) {}

  std::unique_ptr<MimeMessage> Parse() {
    Delimiter found;
    return ParseMessage(0, found, 0);
  }

 private:
  // The message whose header section starts at `pos`, and the delimiter that ends it in `found`;
  // null when declined.
  std::unique_ptr<StructuralMessage> ParseMessage(size_t pos, Delimiter& found, int depth) {
    std::vector<HeaderField> fields;
    const std::optional<size_t> body = ReadFields(pos, fields);
    if (!body || fields.empty()) return nullptr;
    const size_t section_end =
        static_cast<size_t>(fields.back().raw_value.data() - s_.data()) + fields.back().raw_value.size();
    std::vector<HeaderField> own, content;
    for (const HeaderField& f : fields) {
      (IsContentField(f) ? content : own).push_back(f);
    }
    std::unique_ptr<StructuralEntity> top = MakeEntity(std::move(content), nullptr);
    if (!top || !ParseBody(*top, *body, found, depth)) return nullptr;
    const size_t end = found.level < 0 ? s_.size() : found.begin;
    return StructuralMessage::Make(std::move(own), std::move(top), s_.substr(pos, section_end - pos),
                                   s_.substr(pos, end - pos));
  }

  // Reads the header block starting at `pos` into `fields`; returns where the content after its
  // empty line begins, or nullopt when the block is not one read here exactly as GMime reads it.
  std::optional<size_t> ReadFields(size_t pos, std::vector<HeaderField>& fields) const {
    fields.clear();
    while (true) {
      if (pos >= s_.size()) return std::nullopt;  // No empty line ends the block.
      const char* nl = static_cast<const char*>(std::memchr(s_.data() + pos, '\n', s_.size() - pos));
      if (nl == nullptr) return std::nullopt;
      const size_t next = static_cast<size_t>(nl - s_.data()) + 1;
      std::string_view line = s_.substr(pos, next - 1 - pos);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.empty()) return next;
      // GMime ends a header block at a delimiter line, even one that reads as a field.
      if (line.starts_with("--") && StartsWithMarker(pos)) return std::nullopt;
      for (char c : line) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && b != '\t') || b >= 0x7F) return std::nullopt;
      }
      if (line[0] == ' ' || line[0] == '\t') {
        if (fields.empty()) return std::nullopt;
        HeaderField& last = fields.back();
        last.raw_value = s_.substr(static_cast<size_t>(last.raw_value.data() - s_.data()),
                                   next - static_cast<size_t>(last.raw_value.data() - s_.data()));
      } else {
        size_t i = 0;
        while (i < line.size() && IsFieldNameByte(static_cast<unsigned char>(line[i]))) ++i;
        // GMime cannot take in a field name longer than its read buffer.
        if (i == 0 || i > kMaxFieldNameLength || i >= line.size() || line[i] != ':') return std::nullopt;
        if (fields.size() >= kMaxFieldsPerBlock) return std::nullopt;
        fields.push_back({line.substr(0, i), s_.substr(pos + i + 1, next - (pos + i + 1))});
      }
      pos = next;
    }
  }

  // The entity for a header block, with its content type; null when declined. `parent` is the
  // enclosing multipart's type, or null.
  std::unique_ptr<StructuralEntity> MakeEntity(std::vector<HeaderField> fields, GMimeContentType* parent) {
    if (++entities_ > kMaxEntities) return nullptr;
    // GMime takes the first Content-* field of a kind in one place and the last in another.
    std::vector<std::string_view> content_names;
    for (const HeaderField& f : fields) {
      if (!IsContentField(f)) continue;
      if (content_names.size() >= kMaxContentFields) return nullptr;
      for (std::string_view seen : content_names) {
        if (AsciiIEquals(seen, f.name)) return nullptr;
      }
      content_names.push_back(f.name);
    }
    GObjectPtr<GMimeContentType> content_type;
    EntityKind kind = EntityKind::kLeaf;
    if (const HeaderField* f = FirstField(fields, "Content-Type")) {
      std::string_view type, subtype;
      if (!PlainMediaType(f->raw_value, type, subtype)) return nullptr;
      content_type.reset(
          g_mime_content_type_parse(SharedParserOptions(), DecodedHeaderValue(f->raw_value).c_str()));
      const char* parsed_type =
          content_type ? g_mime_content_type_get_media_type(content_type.get()) : nullptr;
      const char* parsed_subtype =
          content_type ? g_mime_content_type_get_media_subtype(content_type.get()) : nullptr;
      if (parsed_type == nullptr || parsed_subtype == nullptr || !AsciiIEquals(parsed_type, type) ||
          !AsciiIEquals(parsed_subtype, subtype)) {
        return nullptr;
      }
      if (IsEmbeddedMessageType(type, subtype)) kind = EntityKind::kMessagePart;
      if (AsciiIEquals(type, "multipart")) kind = EntityKind::kMultipart;
    } else if (parent != nullptr && g_mime_content_type_is_type(parent, "multipart", "digest")) {
      content_type.reset(g_mime_content_type_new("message", "rfc822"));
      kind = EntityKind::kMessagePart;
    } else {
      content_type.reset(g_mime_content_type_new("text", "plain"));
    }
    if (kind == EntityKind::kLeaf && entities_ > kEntitiesKeptParsed)
      return StructuralEntity::Light(std::move(fields));
    return std::make_unique<StructuralEntity>(std::move(fields), kind, std::move(content_type));
  }

  enum class Match { kNo, kYes, kUnsure };

  // Whether `line` (its final CR already dropped) is `marker` followed by blanks only. A line
  // that only stray CRs or other white space keep from matching is one to leave to GMime.
  static Match MatchMarker(std::string_view line, std::string_view marker) {
    if (!line.starts_with(marker)) return Match::kNo;
    bool plain = true;
    for (char c : line.substr(marker.size())) {
      if (c == ' ' || c == '\t') continue;
      if (c == '\r' || c == '\v' || c == '\f') {
        plain = false;
        continue;
      }
      return Match::kNo;
    }
    return plain ? Match::kYes : Match::kUnsure;
  }

  // GMime scans content through a buffer and reads the part of a line that is left at its end as
  // a line of its own when that part is longer than this. Shorter lines are read whole.
  size_t WholeLineLength() const {
    size_t longest = 0;
    for (const Boundary& b : bounds_) longest = std::max(longest, b.closing.size());
    return std::max<size_t>(128, longest + 2);
  }

  bool StartsWithMarker(size_t at) const {
    for (const Boundary& b : bounds_) {
      if (s_.substr(at).starts_with(b.opening)) return true;
    }
    return false;
  }

  // Checks the line at `begin` against the boundaries in force, innermost first as GMime does.
  // Returns nullopt when unsure; a Delimiter with level -1 when the line is none.
  std::optional<Delimiter> CheckLine(size_t begin) const {
    Delimiter d;
    const char* nl = static_cast<const char*>(std::memchr(s_.data() + begin, '\n', s_.size() - begin));
    const size_t line_end = nl == nullptr ? s_.size() : static_cast<size_t>(nl - s_.data());
    // GMime might judge such a line by a piece of it.
    if (line_end - begin > WholeLineLength() && StartsWithMarker(begin)) return std::nullopt;
    std::string_view line = s_.substr(begin, line_end - begin);
    d.crlf = !line.empty() && line.back() == '\r';
    if (d.crlf) line.remove_suffix(1);
    for (int level = static_cast<int>(bounds_.size()) - 1; level >= 0; --level) {
      const Boundary& boundary = bounds_[static_cast<size_t>(level)];
      for (bool closing : {true, false}) {
        const Match m = MatchMarker(line, closing ? boundary.closing : boundary.opening);
        if (m == Match::kUnsure) return std::nullopt;
        if (m == Match::kYes) {
          d.begin = begin;
          d.end = nl == nullptr ? s_.size() : line_end + 1;
          d.level = level;
          d.closing = closing;
          d.has_newline = nl != nullptr;
          return d;
        }
      }
    }
    return d;
  }

  // The first delimiter line from `pos` (the start of a line) on; level -1 at the end of input.
  // Encoded data holds no '-' at all, so going from dash to dash passes over it at memchr's speed.
  std::optional<Delimiter> NextDelimiter(size_t pos) const {
    Delimiter none;
    none.begin = none.end = s_.size();
    if (bounds_.empty()) return none;
    while (pos + 1 < s_.size()) {
      const void* hit = std::memchr(s_.data() + pos, '-', s_.size() - pos - 1);
      if (hit == nullptr) break;
      const size_t at = static_cast<size_t>(static_cast<const char*>(hit) - s_.data());
      pos = at + 1;
      if (s_[at + 1] != '-') continue;
      pos = at + 2;
      if (at == 0 || s_[at - 1] == '\n') {
        const std::optional<Delimiter> d = CheckLine(at);
        if (!d || d->level >= 0) return d;
      } else if (StartsWithMarker(at)) {
        // Inside a line: GMime might read from here as from the start of a line, if the line is
        // long enough for it to split.
        const void* before = memrchr(s_.data(), '\n', at);
        const size_t line_begin =
            before == nullptr ? 0 : static_cast<size_t>(static_cast<const char*>(before) - s_.data()) + 1;
        const void* after = std::memchr(s_.data() + at, '\n', s_.size() - at);
        const size_t line_end =
            after == nullptr ? s_.size() : static_cast<size_t>(static_cast<const char*>(after) - s_.data());
        if (line_end - line_begin > WholeLineLength()) return std::nullopt;
      }
    }
    return none;
  }

  // Reads the content of `entity` from `pos` on, and sets `found` to the delimiter that ends it
  // (level -1: the end of the input). False when declined.
  bool ParseBody(StructuralEntity& entity, size_t pos, Delimiter& found, int depth) {
    if (depth >= kMaxDepth) return false;
    if (entity.Kind() == EntityKind::kMessagePart) {
      // GMime reads an encoded message as an opaque leaf, and a message part whose content
      // starts with a delimiter as one without a message.
      const std::optional<GMimeContentEncoding> encoding = LeafEncoding(entity.Fields());
      if (!encoding ||
          (*encoding != GMIME_CONTENT_ENCODING_DEFAULT && *encoding != GMIME_CONTENT_ENCODING_7BIT &&
           *encoding != GMIME_CONTENT_ENCODING_8BIT && *encoding != GMIME_CONTENT_ENCODING_BINARY)) {
        return false;
      }
      if (const HeaderField* f = FirstField(entity.Fields(), "Content-Transfer-Encoding")) {
        // That decision GMime takes on the raw value.
        const GMimeContentEncoding raw =
            g_mime_content_encoding_from_string(std::string(f->raw_value).c_str());
        if (raw == GMIME_CONTENT_ENCODING_BASE64 || raw == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
            raw == GMIME_CONTENT_ENCODING_UUENCODE) {
          return false;
        }
      }
      if (!bounds_.empty() && s_.substr(pos).starts_with("--")) {
        const std::optional<Delimiter> d = CheckLine(pos);
        if (!d || d->level >= 0) return false;
      }
      std::unique_ptr<StructuralMessage> inner = ParseMessage(pos, found, depth + 1);
      if (!inner) return false;
      entity.SetEmbedded(std::move(inner));
      return true;
    }
    if (entity.Kind() == EntityKind::kLeaf) {
      const std::optional<GMimeContentEncoding> encoding = LeafEncoding(entity.Fields());
      if (!encoding) return false;
      const std::optional<Delimiter> d = NextDelimiter(pos);
      if (!d) return false;
      if (bounds_.empty()) {
        entity.SetContent(s_.substr(pos), *encoding);
        found = *d;
        return true;
      }
      if (d->level < 0) return false;  // A part cut off by the end of the input.
      size_t end = d->begin;
      // The line break before a delimiter belongs to it. GMime takes back as many bytes as the
      // delimiter's own line break has, so a mix of CR LF and LF is declined.
      if (end > pos) {
        if (d->crlf) {
          if (end - pos < 2 || s_[end - 2] != '\r') return false;
          end -= 2;
        } else {
          end -= 1;
        }
      }
      entity.SetContent(s_.substr(pos, end - pos), *encoding);
      found = *d;
      return true;
    }

    const char* boundary = g_mime_content_type_get_parameter(entity.ContentType(), "boundary");
    const std::string_view mine(boundary == nullptr ? "" : boundary);
    if (mine.empty() || mine.size() > kMaxBoundaryLength) return false;
    for (const Boundary& outer : bounds_) {
      const std::string_view theirs = std::string_view(outer.opening).substr(2);
      if (theirs.starts_with(mine) || mine.starts_with(theirs)) return false;
    }
    bounds_.push_back({"--" + std::string(mine), "--" + std::string(mine) + "--"});
    const int level = static_cast<int>(bounds_.size()) - 1;

    std::optional<Delimiter> d = NextDelimiter(pos);  // Past the preamble.
    if (!d || d->level != level || d->closing) return false;
    while (true) {
      if (!d->has_newline) return false;
      std::vector<HeaderField> fields;
      const std::optional<size_t> body = ReadFields(d->end, fields);
      if (!body) return false;
      std::unique_ptr<StructuralEntity> child = MakeEntity(std::move(fields), entity.ContentType());
      if (!child) return false;
      Delimiter next;
      if (!ParseBody(*child, *body, next, depth + 1)) return false;
      entity.AddChild(std::move(child));
      if (next.level != level) return false;  // Cut off, or ended by an outer boundary.
      d = next;
      if (d->closing) break;
    }
    bounds_.pop_back();

    // The epilogue runs to the next delimiter of an enclosing multipart.
    const size_t epilogue = d->has_newline ? d->end : s_.size();
    d = NextDelimiter(epilogue);
    if (!d || (!bounds_.empty() && d->level < 0)) return false;
    found = *d;
    return true;
  }

  struct Boundary {
    std::string opening;  // "--boundary"
    std::string closing;  // "--boundary--"
  };

  std::string_view s_;
  std::vector<Boundary> bounds_;  // Outermost first.
  size_t entities_ = 0;
};

}  // namespace

std::unique_ptr<MimeMessage> ParseStructurally(std::string_view bytes) {
  return StructureParser(bytes).Parse();
}

}  // namespace mime
