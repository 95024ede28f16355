#include "mime/tnef_reader.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mime/charset.h"
#include "mime/compressed_rtf.h"
#include "mime/rtf_text.h"
#include "mime/strings.h"

namespace mime {
namespace {

constexpr std::uint32_t kSignature = 0x223E9F78;
constexpr std::uint8_t kLevelMessage = 0x01;
constexpr std::uint8_t kLevelAttachment = 0x02;

// Attribute ids (the low word of the attribute tag; the high word repeats the value's type).
constexpr std::uint16_t kAttSubject = 0x8004;
constexpr std::uint16_t kAttBody = 0x800C;
constexpr std::uint16_t kAttAttachData = 0x800F;
constexpr std::uint16_t kAttAttachTitle = 0x8010;
constexpr std::uint16_t kAttAttachRendData = 0x9002;
constexpr std::uint16_t kAttMsgProps = 0x9003;
constexpr std::uint16_t kAttAttachment = 0x9005;
constexpr std::uint16_t kAttOemCodepage = 0x9007;

// MAPI property types.
constexpr std::uint16_t kTypeInt16 = 0x0002;
constexpr std::uint16_t kTypeInt32 = 0x0003;
constexpr std::uint16_t kTypeBoolean = 0x000B;
constexpr std::uint16_t kTypeObject = 0x000D;
constexpr std::uint16_t kTypeString8 = 0x001E;
constexpr std::uint16_t kTypeUnicode = 0x001F;
constexpr std::uint16_t kTypeBinary = 0x0102;
constexpr std::uint16_t kMultiValued = 0x1000;

// MAPI property ids this reader uses.
constexpr std::uint16_t kPropSubject = 0x0037;
constexpr std::uint16_t kPropBody = 0x1000;
constexpr std::uint16_t kPropRtfCompressed = 0x1009;
constexpr std::uint16_t kPropBodyHtml = 0x1013;
constexpr std::uint16_t kPropDisplayName = 0x3001;
constexpr std::uint16_t kPropAttachData = 0x3701;
constexpr std::uint16_t kPropAttachFilename = 0x3704;
constexpr std::uint16_t kPropAttachMethod = 0x3705;
constexpr std::uint16_t kPropAttachLongFilename = 0x3707;
constexpr std::uint16_t kPropAttachMimeTag = 0x370E;
constexpr std::uint16_t kPropAttachContentId = 0x3712;
constexpr std::uint16_t kPropAttachContentLocation = 0x3713;
constexpr std::uint16_t kPropInternetCodepage = 0x3FDE;
constexpr std::uint16_t kPropAttachmentHidden = 0x7FFE;

constexpr std::uint32_t kAttachEmbeddedMessage = 5;
// The interface an embedded message's object value names before its own TNEF stream.
constexpr unsigned char kIidMessage[16] = {0x07, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
// More attachments than this in one stream is damage or an attack, not mail: each costs a record in
// the store however few bytes the stream spends on it.
constexpr size_t kMaxAttachments = 4096;
// Messages attached inside attached messages, deeper than this, stay raw TNEF bytes.
constexpr int kMaxEmbeddedDepth = 8;

quill::Status Truncated(const char* what) {
  return quill::Status::Corruption(std::string("winmail.dat cut short in ") + what);
}

// Reads little-endian values from a range whose end is always checked first.
class Cursor {
 public:
  explicit Cursor(std::string_view data) : data_(data) {}
  size_t Left() const { return data_.size() - at_; }
  bool Take(size_t n, std::string_view* out) {
    if (n > Left()) return false;
    *out = data_.substr(at_, n);
    at_ += n;
    return true;
  }
  bool Skip(size_t n) {
    if (n > Left()) return false;
    at_ += n;
    return true;
  }
  bool U8(std::uint8_t* v) {
    if (Left() < 1) return false;
    *v = static_cast<std::uint8_t>(data_[at_++]);
    return true;
  }
  bool U16(std::uint16_t* v) {
    if (Left() < 2) return false;
    *v = static_cast<std::uint16_t>(Byte(0) | Byte(1) << 8);
    at_ += 2;
    return true;
  }
  bool U32(std::uint32_t* v) {
    if (Left() < 4) return false;
    *v = Byte(0) | Byte(1) << 8 | Byte(2) << 16 | Byte(3) << 24;
    at_ += 4;
    return true;
  }

 private:
  std::uint32_t Byte(size_t i) const { return static_cast<unsigned char>(data_[at_ + i]); }
  std::string_view data_;
  size_t at_ = 0;
};

size_t Padding(size_t n) { return (4 - n % 4) % 4; }

std::string DropTrailingNuls(std::string_view s) {
  while (!s.empty() && s.back() == '\0') s.remove_suffix(1);
  return std::string(s);
}

std::string Utf16LeToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    std::uint32_t cp = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (cp == 0) break;
    if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < bytes.size()) {
      const std::uint32_t low =
          static_cast<unsigned char>(bytes[i + 2]) | static_cast<unsigned char>(bytes[i + 3]) << 8;
      if (low >= 0xDC00 && low < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (cp >= 0xD800 && cp < 0xE000) cp = 0xFFFD;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// The charset name of a Windows code page, for the converters in charset.h.
std::string CodePageCharset(std::uint32_t code_page) {
  switch (code_page) {
    case 0:
    case 1252:
      return "windows-1252";
    case 65001:
      return "utf-8";
    case 20127:
      return "us-ascii";
    case 50220:
    case 50221:
    case 50222:
      return "iso-2022-jp";
    case 51932:
      return "euc-jp";
    case 20866:
      return "koi8-r";
    default:
      if (code_page >= 28591 && code_page <= 28606) return "iso-8859-" + std::to_string(code_page - 28590);
      return "cp" + std::to_string(code_page);
  }
}

// One property value as the stream holds it: the first value of a multi-valued one.
struct Property {
  std::uint16_t id = 0;
  std::uint16_t type = 0;  // Without the multi-valued bit.
  std::string_view value;
};

// The size of one value of a fixed-size type, padded as the stream pads it; 0 for a
// variable-size or unknown type.
size_t FixedSize(std::uint16_t type) {
  switch (type) {
    case 0x0001:  // null
    case kTypeInt16:
    case kTypeInt32:
    case 0x0004:  // float
    case 0x000A:  // error code
    case kTypeBoolean:
      return 4;
    case 0x0005:  // double
    case 0x0006:  // currency
    case 0x0007:  // application time
    case 0x0014:  // 64-bit integer
    case 0x0040:  // file time
      return 8;
    case 0x0048:  // GUID
      return 16;
    default:
      return 0;
  }
}

bool IsVariableSize(std::uint16_t type) {
  return type == kTypeString8 || type == kTypeUnicode || type == kTypeBinary || type == kTypeObject;
}

// A counted list of properties, as attMsgProps and attAttachment hold them. Named properties
// are read past (nothing here needs one).
quill::Result<std::vector<Property>> ReadProperties(std::string_view data) {
  Cursor in(data);
  std::uint32_t count = 0;
  if (!in.U32(&count)) return Truncated("a property list");
  std::vector<Property> props;
  for (std::uint32_t n = 0; n < count; ++n) {
    std::uint16_t type = 0;
    std::uint16_t id = 0;
    if (!in.U16(&type) || !in.U16(&id)) return Truncated("a property tag");
    const bool named = id >= 0x8000;
    if (named) {
      std::uint32_t kind = 0;
      if (!in.Skip(16) || !in.U32(&kind)) return Truncated("a property name");
      if (kind == 0) {
        if (!in.Skip(4)) return Truncated("a property name");
      } else if (kind == 1) {
        std::uint32_t length = 0;
        if (!in.U32(&length) || length > in.Left() || !in.Skip(length) || !in.Skip(Padding(length))) {
          return Truncated("a property name");
        }
      } else {
        return quill::Status::Corruption("winmail.dat names a property in an unknown way");
      }
    }
    const bool multi = (type & kMultiValued) != 0;
    const std::uint16_t base = type & ~kMultiValued;
    const size_t fixed = FixedSize(base);
    if (fixed == 0 && !IsVariableSize(base)) {
      return quill::Status::NotSupported("winmail.dat holds a property of unknown type " +
                                         std::to_string(base));
    }
    std::uint32_t values = 1;
    if (multi || fixed == 0) {
      if (!in.U32(&values)) return Truncated("a property value count");
    }
    Property first;
    first.id = id;
    first.type = base;
    for (std::uint32_t v = 0; v < values; ++v) {
      std::string_view value;
      if (fixed != 0) {
        if (!in.Take(fixed, &value)) return Truncated("a property value");
      } else {
        std::uint32_t size = 0;
        if (!in.U32(&size) || !in.Take(size, &value) || !in.Skip(Padding(size)))
          return Truncated("a property value");
      }
      if (v == 0) first.value = value;
    }
    if (!named && values > 0) props.push_back(first);
  }
  return props;
}

class TnefParser {
 public:
  TnefParser(std::string_view data, int depth) : data_(data), depth_(depth) {}

  quill::Result<TnefContent> Parse() {
    Cursor in(data_);
    std::uint32_t signature = 0;
    std::uint16_t key = 0;
    if (!in.U32(&signature) || signature != kSignature)
      return quill::Status::Corruption("not a winmail.dat stream");
    if (!in.U16(&key)) return Truncated("its header");
    while (in.Left() > 0) {
      std::uint8_t level = 0;
      std::uint32_t tag = 0;
      std::uint32_t length = 0;
      std::string_view value;
      std::uint16_t checksum = 0;
      if (!in.U8(&level) || !in.U32(&tag) || !in.U32(&length)) return Truncated("an attribute header");
      if (!in.Take(length, &value) || !in.U16(&checksum)) return Truncated("an attribute");
      std::uint32_t sum = 0;
      for (char c : value) sum += static_cast<unsigned char>(c);
      if ((sum & 0xFFFF) != checksum)
        return quill::Status::Corruption("winmail.dat attribute fails its checksum");
      if (level == kLevelMessage) {
        QUILL_RETURN_IF_ERROR(MessageAttribute(static_cast<std::uint16_t>(tag & 0xFFFF), value));
      } else if (level == kLevelAttachment) {
        QUILL_RETURN_IF_ERROR(AttachmentAttribute(static_cast<std::uint16_t>(tag & 0xFFFF), value));
      } else {
        return quill::Status::Corruption("winmail.dat attribute of unknown level");
      }
    }
    if (!rtf_.empty()) {
      QUILL_ASSIGN_OR_RETURN(out_.rtf_body, DecompressRtf(rtf_));
      // The RTF is the richest form only when nothing else is there; the store keeps text and
      // HTML, so the RTF is carried over into one of those.
      if (out_.text_body.empty() && out_.html_body.empty()) {
        if (RtfHoldsHtml(out_.rtf_body)) {
          out_.html_body = RtfToHtml(out_.rtf_body);
          out_.html_charset = "utf-8";
        } else {
          out_.text_body = RtfToText(out_.rtf_body);
        }
      }
    }
    for (PendingAttachment& p : attachments_) QUILL_RETURN_IF_ERROR(Finish(p));
    return std::move(out_);
  }

 private:
  struct PendingAttachment {
    Attachment attachment;
    std::string title;  // attAttachTitle: the short name, used when the properties give none.
    std::uint32_t method = 0;
    std::string_view object;  // An embedded message's TNEF stream.
  };

  std::string Text(const Property& p) const {
    if (p.type == kTypeUnicode) return Utf16LeToUtf8(p.value);
    return ToUtf8(DropTrailingNuls(p.value), charset_);
  }

  static std::uint32_t Int32(const Property& p) {
    std::uint32_t v = 0;
    Cursor(p.value).U32(&v);
    return v;
  }

  quill::Status MessageAttribute(std::uint16_t id, std::string_view value) {
    switch (id) {
      case kAttOemCodepage: {
        std::uint32_t code_page = 0;
        if (!Cursor(value).U32(&code_page)) return Truncated("the code page");
        charset_ = CodePageCharset(code_page);
        return quill::Status::Ok();
      }
      case kAttSubject:
        out_.subject = ToUtf8(DropTrailingNuls(value), charset_);
        return quill::Status::Ok();
      case kAttBody:
        out_.text_body = ToUtf8(DropTrailingNuls(value), charset_);
        return quill::Status::Ok();
      case kAttMsgProps: {
        QUILL_ASSIGN_OR_RETURN(std::vector<Property> props, ReadProperties(value));
        for (const Property& p : props) MessageProperty(p);
        return quill::Status::Ok();
      }
      default:
        return quill::Status::Ok();
    }
  }

  void MessageProperty(const Property& p) {
    const bool text = p.type == kTypeString8 || p.type == kTypeUnicode;
    if (p.id == kPropSubject && text) {
      out_.subject = Text(p);
    } else if (p.id == kPropBody && text) {
      out_.text_body = Text(p);
    } else if (p.id == kPropRtfCompressed && p.type == kTypeBinary) {
      rtf_ = p.value;
    } else if (p.id == kPropBodyHtml && (text || p.type == kTypeBinary)) {
      if (p.type == kTypeUnicode) {
        out_.html_body = Utf16LeToUtf8(p.value);
        out_.html_charset = "utf-8";
      } else {
        out_.html_body = DropTrailingNuls(p.value);
        if (html_code_page_ == 0) out_.html_charset = charset_;
      }
    } else if (p.id == kPropInternetCodepage && p.type == kTypeInt32) {
      html_code_page_ = Int32(p);
    }
    if (html_code_page_ != 0 && !out_.html_body.empty() && out_.html_charset != "utf-8") {
      out_.html_charset = CodePageCharset(html_code_page_);
    }
  }

  quill::Status AttachmentAttribute(std::uint16_t id, std::string_view value) {
    // Each attachment opens with its rendering attribute; a stream that starts elsewhere still
    // gets one attachment for what follows.
    if (id == kAttAttachRendData || attachments_.empty()) {
      if (attachments_.size() == kMaxAttachments) {
        return quill::Status::Corruption("winmail.dat holds more than " + std::to_string(kMaxAttachments) +
                                         " attachments");
      }
      attachments_.emplace_back();
    }
    PendingAttachment& current = attachments_.back();
    switch (id) {
      case kAttAttachTitle:
        current.title = ToUtf8(DropTrailingNuls(value), charset_);
        break;
      case kAttAttachData:
        current.attachment.data.assign(value);
        break;
      case kAttAttachment: {
        QUILL_ASSIGN_OR_RETURN(std::vector<Property> props, ReadProperties(value));
        for (const Property& p : props) AttachmentProperty(p, current);
        break;
      }
      default:
        break;
    }
    return quill::Status::Ok();
  }

  void AttachmentProperty(const Property& p, PendingAttachment& current) const {
    const bool text = p.type == kTypeString8 || p.type == kTypeUnicode;
    Attachment& a = current.attachment;
    if (p.id == kPropAttachLongFilename && text) {
      a.file_name = Text(p);
    } else if ((p.id == kPropAttachFilename || p.id == kPropDisplayName) && text) {
      if (current.title.empty()) current.title = Text(p);
    } else if (p.id == kPropAttachMimeTag && text) {
      a.mime_type = AsciiLower(TrimWhitespace(Text(p)));
    } else if (p.id == kPropAttachContentId && text) {
      a.content_id = Text(p);
    } else if (p.id == kPropAttachContentLocation && text) {
      a.content_location = Text(p);
    } else if (p.id == kPropAttachMethod && p.type == kTypeInt32) {
      current.method = Int32(p);
    } else if (p.id == kPropAttachmentHidden && p.type == kTypeBoolean) {
      a.hidden = !p.value.empty() && p.value[0] != 0;
    } else if (p.id == kPropAttachData && p.type == kTypeObject) {
      if (p.value.size() >= 16 && std::memcmp(p.value.data(), kIidMessage, 16) == 0) {
        current.object = p.value.substr(16);
      }
    } else if (p.id == kPropAttachData && p.type == kTypeBinary && a.data.empty()) {
      a.data.assign(p.value);
    }
  }

  quill::Status Finish(PendingAttachment& p) {
    Attachment& a = p.attachment;
    if (a.file_name.empty()) a.file_name = p.title;
    if (a.mime_type.empty()) a.mime_type = "application/octet-stream";
    if (!p.object.empty() || p.method == kAttachEmbeddedMessage) {
      const std::string_view stream = !p.object.empty() ? p.object : std::string_view(a.data);
      if (depth_ < kMaxEmbeddedDepth && LooksLikeTnef(stream)) {
        QUILL_ASSIGN_OR_RETURN(TnefContent inner, TnefParser(stream, depth_ + 1).Parse());
        a.embedded = std::make_unique<ParsedMessage>();
        ToMessage(std::move(inner), *a.embedded);
        if (a.file_name.empty()) a.file_name = a.embedded->subject;
        a.mime_type = "message/rfc822";
        a.data.clear();
      } else if (!p.object.empty()) {
        a.data.assign(stream);
      }
    }
    out_.attachments.push_back(std::move(a));
    return quill::Status::Ok();
  }

  // An attached message as the rest of the program models one: what TNEF says of it is its
  // subject, its body and its attachments.
  static void ToMessage(TnefContent&& content, ParsedMessage& message) {
    message.subject = content.subject;
    message.normalized_subject = content.subject;
    message.text_body = std::move(content.text_body);
    message.html_body = std::move(content.html_body);
    message.html_charset = std::move(content.html_charset);
    message.attachments = std::move(content.attachments);
  }

  std::string_view data_;
  const int depth_;
  std::string charset_ = "windows-1252";
  std::uint32_t html_code_page_ = 0;
  std::string_view rtf_;
  std::vector<PendingAttachment> attachments_;
  TnefContent out_;
};

}  // namespace

bool LooksLikeTnef(std::string_view data) {
  std::uint32_t signature = 0;
  return Cursor(data).U32(&signature) && signature == kSignature;
}

quill::Result<TnefContent> ReadTnef(std::string_view data) { return TnefParser(data, 0).Parse(); }

}  // namespace mime
