// The neutral model of one parsed mail message: what a mail store needs to know of it, with every
// text already turned into UTF-8 and every part already decoded from its transfer encoding.
//
// Nothing here knows about PST. The enum values of Importance, Priority and Sensitivity are chosen
// so that a store can take them over unchanged; everything else is plain data. A ParsedMessage
// owns all of its data (embedded messages included) and can be moved, not copied.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mime {

struct Mailbox {
  std::string name;     // Display name, decoded; may be empty.
  std::string address;  // addr-spec as written ("joe@example.org"); may be empty when only a name was given.
};

enum class Importance : int { kLow = 0, kNormal = 1, kHigh = 2 };
enum class Priority : int { kNonUrgent = -1, kNormal = 0, kUrgent = 1 };
enum class Sensitivity : int { kNone = 0, kPersonal = 1, kPrivate = 2, kConfidential = 3 };

// Whether the Date header gave a usable time.
enum class DateState { kValid, kMissing, kInvalid };

// Apple Mail's per-message state, read from the property list that ends an .emlx file.
struct EmlxFlags {
  std::uint64_t raw = 0;  // The "flags" integer as stored.
  bool read = false;
  bool deleted = false;
  bool answered = false;
  bool flagged = false;
  bool draft = false;
  bool forwarded = false;
};

struct ParsedMessage;

// An S/MIME message in the form Outlook keeps it: the protected entity is the message's one
// attachment, which Outlook verifies or decrypts when the message is opened.
enum class SmimeForm {
  kNone,
  // multipart/signed with a PKCS #7 signature: the attachment holds the whole signed entity as it
  // stood in the file (its Content-Type field and its body), and the body is read from the signed
  // part as usual.
  kClearSigned,
  // application/pkcs7-mime, signed or encrypted: the attachment holds the decoded CMS data, and
  // there is no body.
  kOpaque,
};

struct Attachment {
  std::string file_name;            // Decoded (RFC 2231 / RFC 2047), UTF-8; empty when the part had none.
  std::string mime_type;            // Lower case, "type/subtype".
  std::string content_id;           // Without the angle brackets; empty when absent.
  std::string content_location;     // As given; empty when absent.
  bool inline_disposition = false;  // Content-Disposition said "inline".
  // Shown inside the HTML body (referenced there by cid: or by its Content-Location), so a mail
  // client should not list it among the attachments.
  bool hidden = false;
  std::string data;  // Decoded bytes. Empty for an embedded message (see `embedded`).
  // Set for a message/rfc822 part: the enclosed message, parsed. Then `data` is empty.
  std::unique_ptr<ParsedMessage> embedded;
};

struct ParsedMessage {
  // Subject, decoded to UTF-8, and its split into a reply/forward prefix ("Re: ") and the rest.
  // subject == subject_prefix + normalized_subject always holds.
  std::string subject;
  std::string subject_prefix;
  std::string normalized_subject;

  // Address lists with groups flattened into their members; an empty group such as
  // "undisclosed-recipients:;" contributes nothing.
  std::vector<Mailbox> from;
  std::vector<Mailbox> sender;
  std::vector<Mailbox> reply_to;
  std::vector<Mailbox> to;
  std::vector<Mailbox> cc;
  std::vector<Mailbox> bcc;

  // The Date header as UTC. `date` is meaningful only when date_state == kValid.
  std::chrono::sys_seconds date{};
  DateState date_state = DateState::kMissing;
  // The time stamp of the topmost (newest) Received header, when there is one that parses.
  std::optional<std::chrono::sys_seconds> received_date;

  // Identifiers with their angle brackets ("<abc@host>"); References lists them separated by a
  // single space. Empty when absent.
  std::string message_id;
  std::string in_reply_to;
  std::string references;

  // The message's header section as it stood in the file (folded lines kept, CRLF or LF as
  // written), as UTF-8.
  std::string headers;

  Importance importance = Importance::kNormal;
  Priority priority = Priority::kNormal;
  Sensitivity sensitivity = Sensitivity::kNone;

  // The plain-text body in UTF-8. When the message has only an HTML body, this is text derived
  // from that HTML and text_from_html is set.
  std::string text_body;
  bool text_from_html = false;

  // The HTML body exactly as sent (after transfer decoding), and the charset its bytes are in:
  // the declared one, or the one detected when none was declared. Both empty when no HTML.
  std::string html_body;
  std::string html_charset;

  std::vector<Attachment> attachments;
  // When not kNone, `attachments` holds exactly the one attachment that carries the protected
  // entity. Only the file's own message is given this form; an enclosed one keeps its parts.
  SmimeForm smime = SmimeForm::kNone;
  // kOpaque only: the value of the message's Content-Type field as sent, its parameters with it
  // (they say whether the data is signed or encrypted), kept beside the attachment.
  std::string smime_content_type;

  // Present only for an .emlx file whose property list could be read.
  std::optional<EmlxFlags> emlx_flags;

  // Repairs and oddities met while parsing ("emlx byte count did not match"); for logs only.
  std::vector<std::string> notes;
};

}  // namespace mime
