// Recognises S/MIME messages, which Outlook keeps in a form of their own (see SmimeForm in
// message_content.h), and gives a built model that form. Internal to mime/.
//
// Only S/MIME is meant: PGP/MIME (multipart/signed with an application/pgp-signature part,
// multipart/encrypted) has no such form and stays an ordinary message with its parts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "mime/mime_entity.h"
#include "mime/parsed_message.h"

namespace mime {

// What a message needs to take its S/MIME form, found before its model is built: decoding may
// give the pages of the file's buffer back to the system, and a clear-signed message needs its
// bytes as they stood.
struct SmimeEntity {
  SmimeForm form = SmimeForm::kNone;
  // kClearSigned only: the multipart/signed entity, byte for byte as in the file: the message's
  // Content-Type field, the empty line and the whole body. Every other header field is left out;
  // none of them is signed.
  std::string signed_entity;
  // kOpaque only: the value of the message's Content-Type field, unfolded.
  std::string content_type;
};

// `message` was parsed from `bytes` (the message, its header section first), whose header section
// is `header_length` bytes long, the empty line that ends it not counted. kNone for anything that
// is not plainly S/MIME; the message is then stored as any other.
SmimeEntity FindSmimeEntity(const MimeMessage& message, std::string_view bytes, size_t header_length);

// Gives `out`, the model built from that same message, the form `entity` found: its one
// attachment, and no body for an opaque message. A model that does not have the shape the form
// needs (an opaque part that decoded to nothing) is left as it is.
void ApplySmimeForm(SmimeEntity entity, ParsedMessage& out);

}  // namespace mime
