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
#include "mime/mail_date.h"
#include "mime/strings.h"

namespace mime {
namespace {

// GMime returns UTF-8 for decoded headers, but raw 8-bit input can still slip through.
std::string SafeText(const char* s) {
  if (s == nullptr) return {};
  return Utf8OrWindows1252ToUtf8(s);
}

void AppendMailboxes(InternetAddressList* list, std::vector<Mailbox>& out, int group_depth) {
  if (list == nullptr || group_depth > 8) return;
  const int n = internet_address_list_length(list);
  for (int i = 0; i < n; ++i) {
    InternetAddress* address = internet_address_list_get_address(list, i);  // Borrowed.
    if (INTERNET_ADDRESS_IS_GROUP(address)) {
      AppendMailboxes(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)), out,
                      group_depth + 1);
      continue;
    }
    if (!INTERNET_ADDRESS_IS_MAILBOX(address)) continue;
    Mailbox m;
    m.name = TrimWhitespace(SafeText(internet_address_get_name(address)));
    m.address =
        TrimWhitespace(SafeText(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address))));
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
    const std::string piece = TrimWhitespace(value.substr(begin, comma - begin));
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

void ReadAddressHeader(const MimeMessage& message, const char* name, GMimeAddressType type,
                       std::vector<Mailbox>& out) {
  InternetAddressList* list = message.Addresses(type);  // Borrowed.
  if (list != nullptr && internet_address_list_length(list) > 0) {
    AppendMailboxes(list, out, 0);
    // Display names written as encoded words are decoded again by our decoder (GMime's loses
    // text after a padded base64 word and splits characters cut between two words).
    const std::string raw = message.RawHeaderValues(name);
    if (raw.find("=?") != std::string::npos) {
      for (auto& [address, decoded] : EncodedDisplayNames(raw)) {
        for (Mailbox& m : out) {
          if (g_ascii_strcasecmp(m.address.c_str(), address.c_str()) == 0) m.name = decoded;
        }
      }
    }
  } else if (const std::optional<std::string> value = message.Header(name)) {
    AppendMailboxesLoosely(SafeText(value->c_str()), out);
  }
  // GMime merges repeated headers, and some messages repeat From word for word: keep each
  // address once (the first time it appears, with its name).
  std::unordered_set<std::string> seen;
  std::erase_if(out, [&seen](const Mailbox& m) {
    return !m.address.empty() && !seen.insert(AsciiLower(m.address)).second;
  });
}

std::chrono::sys_seconds ToSysSeconds(GDateTime* dt) {
  return std::chrono::sys_seconds(std::chrono::seconds(g_date_time_to_unix(dt)));
}

// "<a@b> <c@d>" from a References or In-Reply-To value; the trimmed value itself when no
// identifier can be found in it.
std::string JoinMessageIds(const std::optional<std::string>& header) {
  if (!header) return {};
  const char* value = header->c_str();
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
  if (joined.empty()) joined = TrimWhitespace(value);
  return Utf8OrWindows1252ToUtf8(joined);
}

}  // namespace

void ReadHeaderFields(const MimeMessage& message, ParsedMessage& out) {
  // The first Subject header counts (GMime would take the last), decoded by our own decoder.
  if (const std::optional<std::string> raw = message.RawHeader("Subject")) {
    out.subject = TrimWhitespace(DecodeHeaderText(raw->c_str()));
  }
  const size_t prefix = SubjectPrefixLength(out.subject);
  out.subject_prefix = out.subject.substr(0, prefix);
  out.normalized_subject = out.subject.substr(prefix);

  ReadAddressHeader(message, "From", GMIME_ADDRESS_TYPE_FROM, out.from);
  ReadAddressHeader(message, "Sender", GMIME_ADDRESS_TYPE_SENDER, out.sender);
  ReadAddressHeader(message, "Reply-To", GMIME_ADDRESS_TYPE_REPLY_TO, out.reply_to);
  ReadAddressHeader(message, "To", GMIME_ADDRESS_TYPE_TO, out.to);
  ReadAddressHeader(message, "Cc", GMIME_ADDRESS_TYPE_CC, out.cc);
  ReadAddressHeader(message, "Bcc", GMIME_ADDRESS_TYPE_BCC, out.bcc);

  if (GDateTime* date = message.Date()) {  // Borrowed.
    out.date = ToSysSeconds(date);
    out.date_state = DateState::kValid;
  } else {
    const std::optional<std::string> raw = message.Header("Date");
    out.date_state = raw && !TrimWhitespace(raw->c_str()).empty() ? DateState::kInvalid : DateState::kMissing;
  }

  // The topmost Received header is the one the last server added: the time the message arrived.
  if (const std::optional<std::string> received = message.Header("Received")) {
    std::string_view v(received->c_str());
    const size_t semi = v.rfind(';');
    if (semi != std::string_view::npos) {
      if (GDateTime* dt = ParseMailDate(v.substr(semi + 1))) {
        out.received_date = ToSysSeconds(dt);
        g_date_time_unref(dt);
      }
    }
  }

  if (const std::optional<std::string> id = message.MessageId()) {  // Already without brackets.
    if (!id->empty()) out.message_id = Utf8OrWindows1252ToUtf8("<" + *id + ">");
  } else if (const std::optional<std::string> raw_id = message.Header("Message-ID")) {
    out.message_id = SafeText(TrimWhitespace(raw_id->c_str()).c_str());
  }
  out.in_reply_to = JoinMessageIds(message.Header("In-Reply-To"));
  out.references = JoinMessageIds(message.Header("References"));

  // The most specific statement wins: Importance, then the numeric X-Priority, then Outlook's
  // X-MSMail-Priority, then the RFC 2156 Priority.
  std::optional<Importance> importance;
  if (const auto v = message.Header("Importance")) importance = ImportanceFromImportanceHeader(v->c_str());
  if (!importance) {
    if (const auto v = message.Header("X-Priority")) importance = ImportanceFromXPriority(v->c_str());
  }
  if (!importance) {
    if (const auto v = message.Header("X-MSMail-Priority")) importance = ImportanceFromXPriority(v->c_str());
  }
  if (!importance) {
    if (const auto v = message.Header("Priority")) importance = ImportanceFromPriority(v->c_str());
  }
  out.importance = importance.value_or(Importance::kNormal);
  if (const auto v = message.Header("Priority"))
    out.priority = PriorityFromPriority(v->c_str()).value_or(Priority::kNormal);
  if (const auto v = message.Header("Sensitivity")) out.sensitivity = SensitivityFromHeader(v->c_str());
}

}  // namespace mime
