#include "mime/header_reader.h"

#include <chrono>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "mime/charset.h"
#include "mime/encoded_words.h"
#include "mime/gmime_support.h"
#include "mime/header_fields.h"
#include "mime/strings.h"

namespace mime {
namespace {

// GMime returns UTF-8 for decoded headers, but raw 8-bit input can still slip through.
std::string SafeText(const char* s) {
  if (s == nullptr) return {};
  return Utf8OrWindows1252ToUtf8(s);
}

const char* Header(GMimeObject* object, const char* name) { return g_mime_object_get_header(object, name); }

void AppendMailboxes(InternetAddressList* list, std::vector<Mailbox>& out, int group_depth) {
  if (list == nullptr || group_depth > 8) return;
  const int n = internet_address_list_length(list);
  for (int i = 0; i < n; ++i) {
    InternetAddress* address = internet_address_list_get_address(list, i);  // Borrowed.
    if (INTERNET_ADDRESS_IS_GROUP(address)) {
      AppendMailboxes(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), out, group_depth + 1);
      continue;
    }
    if (!INTERNET_ADDRESS_IS_MAILBOX(address)) continue;
    Mailbox m;
    m.name = TrimBlanks(SafeText(internet_address_get_name(address)));
    m.address = TrimBlanks(SafeText(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address))));
    if (m.address.empty()) {
      // "To: undisclosed recipients" without the group syntax parses as a name with no address;
      // it names nobody, so it must not become a recipient.
      if (m.name.empty() || AsciiLower(m.name).find("undisclosed") != std::string::npos) continue;
    }
    out.push_back(std::move(m));
  }
}

// For an address header GMime could make nothing of ("From: Big Bug bb@bug.com"): each
// comma-separated piece that holds an '@' gives the word with the '@' as the address and the
// words before it as the name.
void AppendMailboxesLoosely(std::string_view value, std::vector<Mailbox>& out) {
  auto strip = [](std::string v, std::string_view junk) {
    size_t b = 0, e = v.size();
    while (b < e && junk.find(v[b]) != std::string_view::npos) ++b;
    while (e > b && junk.find(v[e - 1]) != std::string_view::npos) --e;
    return v.substr(b, e - b);
  };
  size_t begin = 0;
  while (begin <= value.size()) {
    size_t comma = value.find(',', begin);
    if (comma == std::string_view::npos) comma = value.size();
    const std::string piece = TrimBlanks(value.substr(begin, comma - begin));
    begin = comma + 1;
    const size_t at = piece.rfind('@');
    if (at == std::string::npos) continue;
    size_t word = piece.find_last_of(" \t", at);
    word = word == std::string::npos ? 0 : word + 1;
    Mailbox m;
    m.address = strip(piece.substr(word), " \t<>\"'()");
    m.name = strip(piece.substr(0, word), " \t\"'");
    if (!m.address.empty()) out.push_back(std::move(m));
  }
}

// The raw values of every header called `name`, joined as one address list.
std::string RawHeaderValues(GMimeObject* object, const char* name) {
  std::string joined;
  GMimeHeaderList* headers = g_mime_object_get_header_list(object);  // Borrowed.
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

void ReadAddressHeader(GMimeObject* object, const char* name, InternetAddressList* list, std::vector<Mailbox>& out) {
  if (list != nullptr && internet_address_list_length(list) > 0) {
    AppendMailboxes(list, out, 0);
    // Display names written as encoded words are decoded again by our decoder (GMime's loses
    // text after a padded base64 word and splits characters cut between two words).
    const std::string raw = RawHeaderValues(object, name);
    if (raw.find("=?") != std::string::npos) {
      for (auto& [address, decoded] : EncodedDisplayNames(raw)) {
        for (Mailbox& m : out) {
          if (g_ascii_strcasecmp(m.address.c_str(), address.c_str()) == 0) m.name = decoded;
        }
      }
    }
  } else if (const char* value = Header(object, name)) {
    AppendMailboxesLoosely(SafeText(value), out);
  }
  // GMime merges repeated headers, and some messages repeat From word for word: keep each
  // address once (the first time it appears, with its name).
  std::unordered_set<std::string> seen;
  std::erase_if(out, [&seen](const Mailbox& m) { return !m.address.empty() && !seen.insert(AsciiLower(m.address)).second; });
}

std::chrono::sys_seconds ToSysSeconds(GDateTime* dt) {
  return std::chrono::sys_seconds(std::chrono::seconds(g_date_time_to_unix(dt)));
}

// "<a@b> <c@d>" from a References or In-Reply-To value; the trimmed value itself when no
// identifier can be found in it.
std::string JoinMessageIds(const char* value) {
  if (value == nullptr) return {};
  std::string joined;
  if (GMimeReferences* refs = g_mime_references_parse(SharedParserOptions(), value)) {
    const int n = g_mime_references_length(refs);
    for (int i = 0; i < n; ++i) {
      if (!joined.empty()) joined += ' ';
      joined += '<';
      joined += g_mime_references_get_message_id(refs, i);
      joined += '>';
    }
    g_mime_references_free(refs);
  }
  if (joined.empty()) joined = TrimBlanks(value);
  return Utf8OrWindows1252ToUtf8(joined);
}

}  // namespace

void ReadHeaderFields(GMimeMessage* message, MessageContent& out) {
  GMimeObject* object = GMIME_OBJECT(message);

  // The first Subject header counts (GMime would take the last), decoded by our own decoder.
  GMimeHeaderList* headers = g_mime_object_get_header_list(object);  // Borrowed.
  if (GMimeHeader* subject = headers ? g_mime_header_list_get_header(headers, "Subject") : nullptr) {
    if (const char* raw = g_mime_header_get_raw_value(subject)) out.subject = TrimBlanks(DecodeHeaderText(raw));
  }
  const size_t prefix = SubjectPrefixLength(out.subject);
  out.subject_prefix = out.subject.substr(0, prefix);
  out.normalized_subject = out.subject.substr(prefix);

  ReadAddressHeader(object, "From", g_mime_message_get_from(message), out.from);
  ReadAddressHeader(object, "Sender", g_mime_message_get_sender(message), out.sender);
  ReadAddressHeader(object, "Reply-To", g_mime_message_get_reply_to(message), out.reply_to);
  ReadAddressHeader(object, "To", g_mime_message_get_to(message), out.to);
  ReadAddressHeader(object, "Cc", g_mime_message_get_cc(message), out.cc);
  ReadAddressHeader(object, "Bcc", g_mime_message_get_bcc(message), out.bcc);

  if (GDateTime* date = g_mime_message_get_date(message)) {  // Borrowed.
    out.date = ToSysSeconds(date);
    out.date_state = DateState::kValid;
  } else {
    const char* raw = Header(object, "Date");
    out.date_state = raw != nullptr && !TrimBlanks(raw).empty() ? DateState::kInvalid : DateState::kMissing;
  }

  // The topmost Received header is the one the last server added: the time the message arrived.
  if (const char* received = Header(object, "Received")) {
    std::string_view v(received);
    const size_t semi = v.rfind(';');
    if (semi != std::string_view::npos) {
      const std::string stamp(v.substr(semi + 1));
      if (GDateTime* dt = g_mime_utils_header_decode_date(stamp.c_str())) {
        out.received_date = ToSysSeconds(dt);
        g_date_time_unref(dt);
      }
    }
  }

  if (const char* id = g_mime_message_get_message_id(message)) {  // Already without brackets.
    if (*id != '\0') out.message_id = Utf8OrWindows1252ToUtf8("<" + std::string(id) + ">");
  } else if (const char* raw_id = Header(object, "Message-ID")) {
    out.message_id = SafeText(TrimBlanks(raw_id).c_str());
  }
  out.in_reply_to = JoinMessageIds(Header(object, "In-Reply-To"));
  out.references = JoinMessageIds(Header(object, "References"));

  // The most specific statement wins: Importance, then the numeric X-Priority, then Outlook's
  // X-MSMail-Priority, then the RFC 2156 Priority.
  std::optional<Importance> importance;
  if (const char* v = Header(object, "Importance")) importance = ImportanceFromImportanceHeader(v);
  if (!importance) {
    if (const char* v = Header(object, "X-Priority")) importance = ImportanceFromXPriority(v);
  }
  if (!importance) {
    if (const char* v = Header(object, "X-MSMail-Priority")) importance = ImportanceFromXPriority(v);
  }
  if (!importance) {
    if (const char* v = Header(object, "Priority")) importance = ImportanceFromPriority(v);
  }
  out.importance = importance.value_or(Importance::kNormal);
  if (const char* v = Header(object, "Priority")) out.priority = PriorityFromPriority(v).value_or(Priority::kNormal);
  if (const char* v = Header(object, "Sensitivity")) out.sensitivity = SensitivityFromHeader(v);
}

}  // namespace mime
